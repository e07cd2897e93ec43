// The header lines a load gives the pane with the Headers switch: the portable decoder
// with the system's code pages behind it.
#pragma once
#include <string>

// The block of From, To, Cc, Subject and Date lines of the header text (see
// HeaderBlockText); empty when it has none of them or memory runs out.
void HeaderBlockForPane(const char* headerText, std::wstring* block);
// True when the block has a character that code page 932 has no exact form for (one it
// shows only through a best fit, as a backslash for U+00A5, counts). U+FFFD does not count.
bool HostLacksHeaderText(const std::wstring& block);
