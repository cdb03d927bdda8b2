// The thread's concealed secrets and their masking in record values.
#include "logging/ConcealedText.h"

#include <string>

#include "core/StringUtils.h"

namespace {

thread_local const ConcealedText *Innermost = nullptr;

} // namespace

ConcealedText::ConcealedText(const std::string &sLine, size_t secretStart)
    : mLine(ToStdWstring(sLine)), mSecretStart(ToStdWstring(sLine.substr(0, secretStart)).size()),
      mOuter(Innermost) {
    Innermost = this;
}

ConcealedText::~ConcealedText() {
    Innermost = mOuter;
}

bool ConcealedText::IsActive() {
    return Innermost != nullptr;
}

void ConcealedText::Conceal(std::wstring &value) {
    for (const ConcealedText *scope = Innermost; scope != nullptr; scope = scope->mOuter)
        scope->ConcealIn(value);
}

void ConcealedText::ConcealIn(std::wstring &value) const {
    // By its place only: the secret's text elsewhere (inside the user name, say) is no secret, and
    // masking it would tell where the secret stands.
    if (mSecretStart >= mLine.size() || mSecretStart == 0)
        return;
    const size_t maskLength = std::char_traits<wchar_t>::length(Mask);
    // The line, whole or cut off inside the secret: what follows its public part, as far as it
    // matches the secret. Each search goes on behind the mask just written.
    const std::wstring head = mLine.substr(0, mSecretStart + 1);
    for (size_t at = value.find(head); at != std::wstring::npos;
         at = value.find(head, at + mSecretStart + maskLength)) {
        const size_t start = at + mSecretStart;
        size_t n = 0;
        while (start + n < value.size() && mSecretStart + n < mLine.size() &&
               value[start + n] == mLine[mSecretStart + n])
            ++n;
        value.replace(start, n, Mask);
    }
}
