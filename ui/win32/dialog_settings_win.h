#pragma once

#include <string>

// What the dialog remembers from one start to the next, under the user's own key in the
// registry (HKEY_CURRENT_USER\Software\Brindle), never in a folder they export: only the
// folder the 3D Tiles went to last. The list, the index kind and the 3D Tiles box itself
// start afresh each time.
namespace brindle::win32 {

// Empty when none was remembered or the key cannot be read.
std::wstring RememberedTilesetFolder();
// A key that cannot be written costs only the remembering.
void RememberTilesetFolder(const std::wstring& folder);

} // namespace brindle::win32
