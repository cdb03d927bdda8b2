// The thread's concealed secrets, the kept ones of the process and their masking in record values.
#include "logging/ConcealedText.h"

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "core/StringUtils.h"

namespace {

thread_local const ConcealedText *Innermost = nullptr;

// The kept lines: a list through their owners, constant-initialised with nothing to destroy, so
// that an owner may let go of its line at any time, also after the static objects ended.
std::mutex KeptLock;
KeptConcealedText *KeptFirst = nullptr;
std::atomic<size_t> KeptCount{0};

size_t WideLength(const std::string &sText) {
    return ToStdWstring(sText).size();
}

} // namespace

ConcealedText::ConcealedText(const std::string &sLine, size_t secretStart)
    : mLine(ToStdWstring(sLine)), mSecretStart(WideLength(sLine.substr(0, secretStart))), mOuter(Innermost) {
    Innermost = this;
}

ConcealedText::~ConcealedText() {
    Innermost = mOuter;
}

bool ConcealedText::IsActive() {
    return Innermost != nullptr || KeptCount.load(std::memory_order_relaxed) != 0;
}

void ConcealedText::Conceal(std::wstring &value) {
    for (const ConcealedText *scope = Innermost; scope != nullptr; scope = scope->mOuter)
        ConcealLine(value, scope->mLine, scope->mSecretStart);
    if (KeptCount.load(std::memory_order_relaxed) == 0)
        return;
    std::lock_guard<std::mutex> guard(KeptLock);
    for (const KeptConcealedText *kept = KeptFirst; kept != nullptr; kept = kept->mNext)
        ConcealLine(value, kept->mLine, kept->mSecretStart);
}

void ConcealedText::ConcealLine(std::wstring &value, const std::wstring &line, size_t secretStart) {
    if (secretStart >= line.size())
        return;
    const size_t maskLength = std::char_traits<wchar_t>::length(Mask);
    if (secretStart == 0) {
        // No public part to find it by: wherever it stands whole.
        for (size_t at = value.find(line); at != std::wstring::npos; at = value.find(line, at + maskLength))
            value.replace(at, line.size(), Mask);
        return;
    }
    // By its place only: the secret's text elsewhere (inside the user name, say) is no secret, and
    // masking it would tell where the secret stands. The line, whole or cut off inside the secret:
    // what follows its public part, as far as it matches the secret. Each search goes on behind
    // the mask just written.
    const std::wstring_view head(line.data(), secretStart + 1);
    for (size_t at = value.find(head); at != std::wstring::npos;
         at = value.find(head, at + secretStart + maskLength)) {
        const size_t start = at + secretStart;
        size_t n = 0;
        while (start + n < value.size() && secretStart + n < line.size() &&
               value[start + n] == line[secretStart + n])
            ++n;
        value.replace(start, n, Mask);
    }
}

KeptConcealedText::~KeptConcealedText() {
    Drop();
}

void KeptConcealedText::Keep(const std::string &sLine, size_t secretStart) {
    std::wstring line = ToStdWstring(sLine);
    const size_t wideStart = WideLength(sLine.substr(0, secretStart));
    std::lock_guard<std::mutex> guard(KeptLock);
    mLine = std::move(line);
    mSecretStart = wideStart;
    if (mListed)
        return;
    mNext = KeptFirst;
    KeptFirst = this;
    mListed = true;
    KeptCount.fetch_add(1, std::memory_order_relaxed);
}

void KeptConcealedText::Drop() {
    std::lock_guard<std::mutex> guard(KeptLock);
    if (!mListed)
        return;
    for (KeptConcealedText **link = &KeptFirst; *link != nullptr; link = &(*link)->mNext)
        if (*link == this) {
            *link = mNext;
            break;
        }
    mListed = false;
    mLine.clear();
    KeptCount.fetch_sub(1, std::memory_order_relaxed);
}
