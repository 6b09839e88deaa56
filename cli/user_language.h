#pragma once

#include "wording/report_wording.h"

namespace brindle {

// The language brindle-export speaks: BRINDLE_LANG when it is "en" or "zh"; otherwise
// Chinese where the user's locale is Chinese (on Windows, the user interface language;
// elsewhere the locale's messages, as LanguageOfLocale reads them), English everywhere else.
wording::Language UserLanguage();

// The POSIX rule: the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty names
// the locale of messages; Chinese when it starts with "zh". Null stands for unset.
wording::Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);

} // namespace brindle
