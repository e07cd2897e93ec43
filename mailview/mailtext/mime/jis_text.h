// Japanese text in the forms mail carries it, as the Shift_JIS of code page 932, through
// which the host reads every Japanese mail: ISO-2022-JP (read a piece at a time when need
// be) and EUC-JP. JIS X 0212 characters, which code page 932 lacks, and bytes that are no
// character become '?'.
#pragma once
#include <cstddef>
#include <string>

enum JisMode { JisAscii, JisKatakana, JisKanji, JisSupplement };

// The length of the ISO-2022-JP escape at s[at] (of length bytes), 0 for none; *mode gets
// the set it shifts to.
size_t JisEscapeAt(const char* s, size_t length, size_t at, JisMode* mode);

// ISO-2022-JP as Shift_JIS. The shift state carries over from one piece to the next, and
// so do an escape or a double byte that a piece's end cuts; final: no piece follows.
class JisToShiftJis {
public:
    JisToShiftJis() : mode_(JisAscii) {}
    void Read(const char* bytes, size_t length, bool final, std::string* out);

private:
    JisMode mode_;
    std::string held_;
};

std::string Iso2022JpToShiftJis(const std::string& in);
std::string EucJpToShiftJis(const std::string& in);
