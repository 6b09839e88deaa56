#pragma once

#include <QString>

// What the dialog remembers from one start to the next, in the user's own settings (not in
// any folder they export): only the folder the 3D Tiles went to last. The list, the index kind
// and the 3D Tiles box itself start afresh each time.
namespace brindle::ui {

QString RememberedTilesetFolder();
void RememberTilesetFolder(const QString& folder);

} // namespace brindle::ui
