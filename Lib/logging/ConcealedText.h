// Secrets that must reach a peer but never the call log, such as the password of a login line.
//
// While a ConcealedText lives, every value of the records that its thread writes shows "********"
// in place of the secret wherever the line that carries it stands, whole or cut off inside the
// secret (a writer that shortens long values). The secret is found by its place in that line, not
// by its text, so no other text changes. The wire is not touched. Scopes nest; each thread sees
// only its own. Without a scope the records cost one thread-local test.
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

    // Masks the secrets of this thread's scopes in a record value.
    static void Conceal(std::wstring &value);
    // Whether this thread has a secret to mask.
    static bool IsActive();

private:
    void ConcealIn(std::wstring &value) const;

    std::wstring mLine;
    size_t mSecretStart;
    const ConcealedText *mOuter;
};
