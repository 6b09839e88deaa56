#include "replace_question_win.h"

#include "dialog_common_win.h"
#include "report_text_win.h"

namespace brindle::win32 {

bool AskReplace(HWND owner, const Problem& why) {
    return Message(owner, ReplaceQuestion(why), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
           IDYES;
}

} // namespace brindle::win32
