#include "cli/user_language.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace brindle {
namespace {

std::optional<wording::Language> Named(const char* name) {
    if (!name)
        return std::nullopt;
    if (std::strncmp(name, "zh", 2) == 0)
        return wording::Language::Chinese;
    if (std::strncmp(name, "en", 2) == 0)
        return wording::Language::English;
    return std::nullopt;
}

} // namespace

wording::Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* name : {lcAll, lcMessages, lang})
        if (name && *name)
            return std::strncmp(name, "zh", 2) == 0 ? wording::Language::Chinese
                                                    : wording::Language::English;
    return wording::Language::English;
}

wording::Language UserLanguage() {
    if (const std::optional<wording::Language> chosen = Named(std::getenv("BRINDLE_LANG")))
        return *chosen;
#ifdef _WIN32
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE ? wording::Language::Chinese
                                                                     : wording::Language::English;
#else
    return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
#endif
}

} // namespace brindle
