// Text and number helpers shared by the whole plug-in: printf-style formatting, number and boolean
// parsing that tolerates hand-written texts, trimming, searching, narrow/wide conversion (UTF-8),
// host-buffer helpers and regular-expression matching.
//
// Numbers are always formatted and parsed in the C locale, whatever locale the host set.
#pragma once

#include "platform/HostTypes.h"

#include <wx/string.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define PONTIS_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define PONTIS_PRINTF_FORMAT(fmt, first)
#endif

// Blank, BEL, backspace, form feed, line feed, carriage return, tab, vertical tab and NUL.
inline const std::string WhitespaceCharacters(" \a\b\f\n\r\t\v\0", 9);

// A decimal number with optional sign, fraction and exponent.
constexpr const char *FloatNumberPattern = "[-+]?[0-9]*\\.?[0-9]+(?:[eE][-+]?[0-9]+)?";

// Results of the RegexMatch family.
constexpr DWORD RegexResultNoGroup = 0x30000064;      // no group to read, or the match cannot be read
constexpr DWORD RegexResultGroupAbsent = 0x30000065;  // the chosen group took no part in the match
constexpr DWORD RegexResultNoMatch = 0x30000066;      // the text does not match
constexpr DWORD RegexResultInvalidRegex = 0x30000067; // the expression does not compile

// ---- Formatting ----------------------------------------------------------------------------------

// printf-style formatting into one shared, growing buffer per character width; serialised.
// Wide formats print wide strings with %ls.
std::string FormatString(const char *format, ...) PONTIS_PRINTF_FORMAT(1, 2);
std::string FormatStringV(const char *format, va_list args);
std::wstring FormatWString(const wchar_t *format, ...);
std::wstring FormatWStringV(const wchar_t *format, va_list args);
// Free the shared buffers (process detach).
void ReleaseFormatBuffer();
void ReleaseFormatWBuffer();

std::string UnsignedToString(const unsigned int &value); // "%u"
std::string IntToString(const int &value);               // "%d"
std::string FloatToString(const float &value);           // "%G" of the value widened to double
std::string DoubleToString(const double &value);         // "%lG"
std::string BoolToString(const bool &value);             // "TRUE" / "FALSE"

// FormatString of the format with the value ("%i", "COM%i", ...).
template <typename T> std::string FormatValue(const T &value, const std::string &format);
template <> std::string FormatValue<int>(const int &value, const std::string &format);

// The text between two double quotes.
std::string QuoteString(const std::string &text);
std::wstring QuoteString(const std::wstring &text);

// ---- Parsing: each returns the default when the text cannot be read ------------------------------

// sscanf of the text with the format; the default unless both are non-empty and exactly one
// value is converted.
int ScanValue(const std::string &text, const std::string &format, const int &defaultValue);
int ParseInt(const std::string &text); // "%d", default 0
int ParseIntOr(const std::string &text, const int &defaultValue);
unsigned int ParseUnsignedOr(const std::string &text, const unsigned int &defaultValue); // "%u"
unsigned int ParseUnsigned(const std::string &text);                                     // default 0

// Accept a decimal comma and blanks between a sign and the number ("- 1,5" reads as -1.5).
float StringToFloat(const std::string &text, const float &defaultValue);
double StringToDouble(const std::string &text, const double &defaultValue);
float ParseFloat(const std::string &text);   // default 0
double ParseDouble(const std::string &text); // default 0
// The first "," becomes ".".
std::string DecimalCommaToPoint(const std::string &text);
// Blanks between a sign and the number that follows it are removed.
std::string NormaliseNumberText(const std::string &text);

// "1", "OK", "TRUE", "ON", "YES", "JA", "SI" are true; "0", "FALSE", "OFF", "NO", "NEE", "NON"
// false (any case, trimmed); otherwise a non-zero integer is true and anything else the default.
bool ParseBoolOr(const std::string &text, const bool &defaultValue);
bool ParseBool(const std::string &text); // default false

std::string ParseString(const std::string &text);

// ---- Numbers and units ---------------------------------------------------------------------------

double SecondsToMilliseconds(double seconds);
double MillisecondsToSeconds(const unsigned int &milliseconds);
// Truncates toward zero, saturating at 0 and 0xFFFFFFFF; NaN gives 0.
unsigned int SaturatingToUnsigned(const double &value);
bool IsInRange(const int &value, const int &minimum, const int &maximum);
// The first result when it is non-zero, else the second.
DWORD FirstNonZero(const DWORD &first, const DWORD &second);

// ---- Trimming and cleaning -----------------------------------------------------------------------

std::string Trim(const std::string &text, const std::string &characters);
std::string TrimLeft(const std::string &text, const std::string &characters);
std::string TrimRight(const std::string &text, const std::string &characters);
std::string TrimDefault(const std::string &text);
std::wstring TrimDefault(const std::wstring &text); // the same nine characters
std::string TrimRightDefault(const std::string &text);
std::string TrimLeftWith(const std::string &text, const char *characters);
std::string TrimRightWith(const std::string &text, const char *characters);

std::string RemoveCharacters(const std::string &text, const std::string &characters);
void RemoveSpaces(std::string &text);
// Affix added in front and at the end unless the text already starts / ends with it.
std::string SurroundWith(const std::string &text, const std::string &affix);
// Every occurrence replaced; the search resumes behind the inserted replacement.
std::string ReplaceAll(const std::string &text, const std::string &search, const std::string &replacement);
// Single "&" doubled for control labels; an existing "&&" stays one pair.
wxString EscapeAmpersands(const wxString &text);
// Appends count bytes, NUL bytes included.
void AppendBytes(std::string &text, const void *bytes, size_t count);

// ---- Comparing and searching (bIgnoreCase: compare ASCII upper-cased) -----------------------------

int CompareStrings(const std::string &first, const std::string &second, bool bIgnoreCase);
bool Contains(const std::string &text, const std::string &part, bool bIgnoreCase);
bool StartsWith(const std::string &text, const std::string &prefix, bool bIgnoreCase);
bool EndsWith(const std::string &text, const std::string &suffix, bool bIgnoreCase);

// ---- Case and conversions (narrow texts are UTF-8) -----------------------------------------------

std::string ToLower(const std::string &text); // ASCII only
std::string ToUpper(const std::string &text); // ASCII only
std::string ToUpperStdString(const wxString &text);

std::string ToStdString(const std::wstring &text);
std::string ToStdString(const wxString &text);
std::string ToStdString(const char *text); // null gives ""
std::wstring ToStdWstring(const std::string &text);
std::wstring ToStdWstring(const char *text); // null gives ""
std::wstring ToStdWstring(const wxString &text);
std::string WxStringToStdString(const wxString &text);

// Narrow texts written to a wide stream are converted from UTF-8.
std::wostream &operator<<(std::wostream &stream, const char *text);
std::wostream &operator<<(std::wostream &stream, const std::string &text);

// ---- Host buffers --------------------------------------------------------------------------------

// The text a host buffer holds: at most min(size, count) bytes, up to the first NUL; "" for null.
std::string HostBufferText(const char *buffer, uint32_t size, uint32_t count = 0xFFFFFFFFu);
// Length 0 and an empty text, writing only through non-null pointers and within size.
void ClearErrorText(char *buffer, uint32_t size, uint32_t *length);
// Copies at most size - 1 bytes (never splitting a UTF-8 character) and a terminating 0, and stores
// the count copied; with no buffer or size 0 only the length (0) is stored.
void CopyStringToBuffer(const std::string &text, char *buffer, uint32_t size, uint32_t *length);

// ---- Regular expressions -------------------------------------------------------------------------

// Matches the pattern against the text; on success stores group 1 (or the whole match when the
// pattern has no group) converted to T and returns 0, else one of the RegexResult codes and the
// output is left alone.
DWORD RegexMatchText(const std::string &text, const wxString &pattern, std::string &matched,
                     bool bIgnoreCase);

inline void RegexValueFromText(const std::string &text, std::string &value) {
    value = ParseString(text);
}
inline void RegexValueFromText(const std::string &text, unsigned int &value) {
    value = ParseUnsigned(text);
}
inline void RegexValueFromText(const std::string &text, int &value) {
    value = ParseInt(text);
}
inline void RegexValueFromText(const std::string &text, float &value) {
    value = ParseFloat(text);
}
inline void RegexValueFromText(const std::string &text, double &value) {
    value = ParseDouble(text);
}

template <typename T>
DWORD RegexMatch(const std::string &text, const wxString &pattern, T &value, bool bIgnoreCase) {
    std::string matched;
    const DWORD result = RegexMatchText(text, pattern, matched, bIgnoreCase);
    if (result == 0)
        RegexValueFromText(matched, value);
    return result;
}

// Unsigned member (status replies); a group that does not read gives 0.
DWORD ExtractNumberByRegex(const std::string &text, const wxString &pattern, unsigned int &value,
                           bool bIgnoreCase);
// Int member.
DWORD RegExMatch(const std::string &text, const wxString &pattern, int &value, bool bIgnoreCase);
// True when the text matches, even when the group took no part.
bool MatchesRegex(const std::string &text, const std::string &pattern, bool bIgnoreCase);

// ---- Splitting -----------------------------------------------------------------------------------

// Appends the pieces of the text between delimiter characters to the list. With bKeepEmpty every
// delimiter ends a piece (empty ones too) and a last piece is added only when it is not empty;
// without it runs of delimiters are skipped and no piece is empty.
void SplitString(const std::string &text, std::vector<std::string> &pieces, const std::string &delimiters,
                 bool bKeepEmpty);
// The texts in order with the separator between each two ("a, b, c"); "" for none. For std::string
// and std::wstring.
template <typename Text>
Text JoinTexts(const std::vector<Text> &texts, const typename Text::value_type *separator);
// Equal when ASCII letters are compared without regard to case.
bool CaseInsensitiveEqual(const std::string &first, const std::string &second);
