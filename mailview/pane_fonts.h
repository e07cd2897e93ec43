// Faces for what the pane's own face can't draw. Wine's rich edit draws every run with the
// one font of its format, and a character that font lacks is a box; so after a stream-in,
// runs that the pane's face has no glyph for are given a face that has them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Gives each run of the pane's text that its default face has no glyph for a face that
// has them, chosen among `faces` in their order (null: the installed faces, in the order
// of kPreferredFaces and then by name). A face that covers the whole run comes first;
// otherwise the run is shared out character by character, and a character no face covers
// keeps the pane's face. Only the face and the charset change; the text, the selection,
// the scroll position, the modified flag and an empty undo record stay as they were. The
// first 48 ranges from the top are given their face, no more: each costs Wine's rich edit
// a rewrap. Returns the number of ranges given another face.
int ApplyFallbackFaces(HWND pane, const std::vector<std::wstring>* faces = NULL);
