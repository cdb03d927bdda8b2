// Logged message boxes and the framework's error message box.
#include "logging/LoggedMessageBox.h"

#include "core/StringUtils.h"
#include "logging/DriverLog.h"
#include "logging/MakeString.h"
#include "logging/QuellinEntry.h"
#include "platform/MessageBox.h"

namespace {

constexpr unsigned int ErrorMessageStyle = Platform::MbOk | Platform::MbIconWarning;

// One note record of the box, the box itself, and a warning when nobody could see it. The
// description quotes the texts in their narrow form; the record carries them as given.
template <typename TextT>
int ShowLoggedBox(const char *function, const TextT &text, const TextT &caption,
                  const std::string &narrowText, const std::string &narrowCaption,
                  const Platform::MessageBoxRequest &request, bool *suppressed) {
    QuellinEntry entry("DeviceDriver", function);
    const unsigned int type = request.Style;
    const std::string description =
        MakeString(function, "(", QuoteString(narrowText), ", ", QuoteString(narrowCaption), ", ", type, ")");
    entry.Log(QuellinLevelNote, QuellinDescription, description, QuellinMarkerInput, "Text", text, "Title",
              caption, "Type", type);

    const Platform::MessageBoxAnswer answer = Platform::ShowMessageBox(request);
    if (answer.Suppressed)
        entry.Log(QuellinLevelWarning, QuellinDescription, description, "Warning",
                  "Message box suppressed: no display or not the GUI thread", "Answer", answer.Button);
    if (suppressed != nullptr)
        *suppressed = answer.Suppressed;
    return answer.Button;
}

} // namespace

int MessageBoxW(HostWindow owner, const std::wstring &text, const std::wstring &caption, unsigned int type,
                bool *suppressed) {
    return ShowLoggedBox("MessageBoxW", text, caption, ToStdString(text), ToStdString(caption),
                         Platform::MessageBoxRequest{owner, text, caption, type}, suppressed);
}

int MessageBoxA(HostWindow owner, const std::string &text, const std::string &caption, unsigned int type,
                bool *suppressed) {
    return ShowLoggedBox("MessageBoxA", text, caption, text, caption,
                         Platform::MessageBoxRequest{owner, ToStdWstring(text), ToStdWstring(caption), type},
                         suppressed);
}

void ShowErrorMessage(std::wstring message, std::string function) {
    const std::wstring wideFunction = ToStdWstring(function);
    DriverLogFile::Write(wideFunction, message.empty() ? wideFunction : message);

    std::wstring boxText;
    if (message.empty())
        boxText = wideFunction;
    else if (wideFunction.empty())
        boxText = message;
    else
        boxText =
            FormatWString(L"Message:      %ls\n\nFunction:   %ls", message.c_str(), wideFunction.c_str());
    MessageBoxW(nullptr, boxText, wideFunction, ErrorMessageStyle);
}

void ShowFunctionErrorMessage(const std::string &message, std::string function) {
    ShowErrorMessage(ToStdWstring(message), std::move(function));
}
