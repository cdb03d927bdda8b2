// Secrets that must reach a peer but never the call log, such as the password of a login line.
//
// While a ConcealedText lives, every value of the records that its thread writes shows "********"
// in place of the secret wherever the line that carries it stands, whole or cut off inside the
// secret (a writer that shortens long values). The secret is found by its place in that line, not
// by its text, so no other text changes; a secret that the line begins with has no public part to
// be found by and is masked wherever it stands whole. The wire is not touched. Scopes nest; each
// thread sees only its own. A KeptConcealedText masks its line in the records of every thread for
// as long as its owner keeps it (a peer may send the line back later). Without either the records
// cost one thread-local test and one atomic load.
#pragma once

#include <cstddef>
#include <string>

class ConcealedText {
public:
    static constexpr const wchar_t *Mask = L"********";

    // line: the text as it is written; secretStart: where the secret begins in it (in bytes).
    ConcealedText(const std::string &sLine, size_t secretStart);
    ~ConcealedText();
    ConcealedText(const ConcealedText &) = delete;
    ConcealedText &operator=(const ConcealedText &) = delete;

    // Masks the secrets of this thread's scopes and the kept ones in a record value.
    static void Conceal(std::wstring &value);
    // Whether there is a secret to mask.
    static bool IsActive();
    // The secret of a line (wide text, secret start in characters) masked in a value.
    static void ConcealLine(std::wstring &value, const std::wstring &line, size_t secretStart);

private:
    std::wstring mLine;
    size_t mSecretStart;
    const ConcealedText *mOuter;
};

class KeptConcealedText {
public:
    KeptConcealedText() = default;
    ~KeptConcealedText();
    KeptConcealedText(const KeptConcealedText &) = delete;
    KeptConcealedText &operator=(const KeptConcealedText &) = delete;

    // Masks this line from now on, in place of the line kept before.
    void Keep(const std::string &sLine, size_t secretStart);
    void Drop();

private:
    friend class ConcealedText;
    std::wstring mLine;
    size_t mSecretStart = 0;
    bool mListed = false;
    KeptConcealedText *mNext = nullptr;
};
