// Faces for what the pane's own face can't draw (see pane_fonts.h).
#include "mailview/pane_fonts.h"
#include "mailview/pane_text.h"

#include <richedit.h>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <cwchar>
#include <memory>
#include <unordered_map>

#include "base/scoped.h"
#include "trace/boundary_guard.h"

namespace {

// Coverage is learnt 4,096 code points at a time, once per face and process, as characters
// ask for it: one font selection and one glyph lookup answer every character of a chunk.
const unsigned kChunkBits = 12;
const UINT32 kChunkSize = 1u << kChunkBits;
const unsigned kChunks = (0x10FFFFu >> kChunkBits) + 1;
const unsigned kBmpChunks = 0x10000u >> kChunkBits;
typedef std::bitset<kChunkSize> ChunkMask;
// A chunk's state: not learnt yet, none of it, all of it, or masks[state - kPartial].
const unsigned short kUnprobed = 0, kNone = 1, kAll = 2, kPartial = 3;
// A cmap table larger than this is not read: no font's comes near it.
const DWORD kCmapLimit = 16u << 20;
const DWORD kCmapTag = 0x70616D63;   // "cmap", as GetFontData takes a table's tag
// Wine's rich edit takes some 0.3-1 ms to reformat one range, however short (it wraps the
// paragraph again and updates its scroll bar each time): a long text that alternates
// scripts line by line would take seconds. The first ranges from the top are given their
// face, these many at most; the rest keep the pane's.
const size_t kMostRanges = 48;

// Faces tried first, in this order, when installed: text faces of the scripts mail comes
// in (Japanese, Korean, Chinese, Latin and others), then symbol and emoji faces. The other
// installed faces follow by name.
const wchar_t* const kPreferredFaces[] = {
    L"Meiryo",      L"Yu Gothic",       L"Malgun Gothic", L"Microsoft YaHei", L"Microsoft JhengHei",
    L"Segoe UI",    L"Noto Sans CJK JP", L"Noto Sans",     L"Nanum Gothic",    L"LexiGulim",
    L"DejaVu Sans", L"Segoe UI Symbol",  L"Segoe UI Emoji", L"Symbola",
};

struct FaceCoverage {
    FaceCoverage(const std::wstring& faceName, BYTE faceCharset) : name(faceName), charset(faceCharset), cmapRead(false)
    {
        std::memset(chunk, 0, sizeof chunk);
    }
    std::wstring name;
    BYTE charset;
    unsigned short chunk[kChunks];
    std::vector<ChunkMask> masks;
    bool cmapRead;
    std::vector<std::pair<UINT32, UINT32> > beyondBmp;   // covered ranges above U+FFFF, from the cmap
};

struct FaceCache {
    std::vector<std::unique_ptr<FaceCoverage> > faces;   // the candidates learnt so far
    bool enumerated;
    std::vector<std::wstring> installed;                 // the candidates, in their order
};

FaceCache& Cache()
{
    static FaceCache cache = {{}, false, {}};
    return cache;
}

// Face names compare with ASCII letters folded, as GDI finds them.
wchar_t Folded(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i]))
            return false;
    return true;
}

bool NameLess(const std::wstring& a, const std::wstring& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (Folded(a[i]) != Folded(b[i]))
            return Folded(a[i]) < Folded(b[i]);
    return a.size() < b.size();
}

FaceCoverage* FindFace(const std::wstring& name, BYTE charset)
{
    std::vector<std::unique_ptr<FaceCoverage> >& faces = Cache().faces;
    for (size_t i = 0; i < faces.size(); ++i)
        if (faces[i]->charset == charset && SameName(faces[i]->name, name))
            return faces[i].get();
    faces.push_back(std::unique_ptr<FaceCoverage>(new FaceCoverage(name, charset)));
    return faces.back().get();
}

int CALLBACK CollectFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM names)
{
    // Raster faces don't scale to the pane's size, '@' faces are for vertical text, and a
    // symbol charset maps letters to pictures.
    if (!(type & RASTER_FONTTYPE) && font->lfFaceName[0] != L'@' && font->lfFaceName[0] &&
        font->lfCharSet != SYMBOL_CHARSET)
        reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(
            std::wstring(font->lfFaceName, wcsnlen(font->lfFaceName, LF_FACESIZE)));
    return 1;
}

const std::vector<std::wstring>& InstalledFaces(HDC dc)
{
    FaceCache& cache = Cache();
    if (cache.enumerated)
        return cache.installed;
    std::vector<std::wstring> names;
    LOGFONTW all;
    std::memset(&all, 0, sizeof all);
    all.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &all, CollectFace, reinterpret_cast<LPARAM>(&names), 0);
    std::sort(names.begin(), names.end(), NameLess);
    names.erase(std::unique(names.begin(), names.end(), SameName), names.end());
    std::vector<std::wstring> ordered;
    for (const wchar_t* preferred : kPreferredFaces)
        for (size_t i = 0; i < names.size(); ++i)
            if (SameName(names[i], preferred)) {
                ordered.push_back(names[i]);
                names.erase(names.begin() + i);
                break;
            }
    ordered.insert(ordered.end(), names.begin(), names.end());
    cache.installed.swap(ordered);
    cache.enumerated = true;
    return cache.installed;
}

UINT32 ReadBig(const std::vector<BYTE>& table, size_t at, size_t bytes)
{
    UINT32 value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value = (value << 8) | table[at + i];
    return value;
}

// The ranges above U+FFFF of the font's Unicode cmap (platform 3, encoding 10, format 12):
// what uniscribe, and so rich edit, looks such a character up in. Glyph indices of
// GetGlyphIndicesW are UTF-16 units and can't name them.
void ReadBeyondBmp(HDC dc, FaceCoverage* face)
{
    face->cmapRead = true;
    DWORD size = GetFontData(dc, kCmapTag, 0, NULL, 0);
    if (size == GDI_ERROR || size < 4 || size > kCmapLimit)
        return;
    std::vector<BYTE> table(size);
    if (GetFontData(dc, kCmapTag, 0, table.data(), size) != size)
        return;
    const size_t records = ReadBig(table, 2, 2);
    for (size_t r = 0; r < records && 4 + 8 * r + 8 <= size; ++r) {
        const size_t record = 4 + 8 * r;
        if (ReadBig(table, record, 2) != 3 || ReadBig(table, record + 2, 2) != 10)
            continue;
        const size_t at = ReadBig(table, record + 4, 4);
        if (at > size || size - at < 16 || ReadBig(table, at, 2) != 12)
            continue;
        const size_t groups = ReadBig(table, at + 12, 4);
        for (size_t g = 0; g < groups && (size - at - 16) / 12 > g; ++g) {
            const size_t group = at + 16 + 12 * g;
            UINT32 first = ReadBig(table, group, 4);
            UINT32 last = std::min<UINT32>(ReadBig(table, group + 4, 4), 0x10FFFF);
            if (ReadBig(table, group + 8, 4) == 0)
                ++first;   // glyph 0 is the missing glyph
            first = std::max<UINT32>(first, 0x10000);
            if (first <= last)
                face->beyondBmp.push_back(std::make_pair(first, last));
        }
        return;
    }
}

void StoreChunk(FaceCoverage* face, unsigned chunk, const ChunkMask& mask)
{
    if (mask.none()) {
        face->chunk[chunk] = kNone;
    } else if (mask.all()) {
        face->chunk[chunk] = kAll;
    } else {
        face->masks.push_back(mask);
        face->chunk[chunk] = static_cast<unsigned short>(kPartial + face->masks.size() - 1);
    }
}

HFONT CreateFace(const FaceCoverage& face)
{
    LOGFONTW request;
    std::memset(&request, 0, sizeof request);
    request.lfHeight = -16;
    request.lfWeight = FW_NORMAL;
    request.lfCharSet = face.charset;
    lstrcpynW(request.lfFaceName, face.name.c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&request);
}

bool BeyondBmpCovers(const FaceCoverage& face, UINT32 c)
{
    std::vector<std::pair<UINT32, UINT32> >::const_iterator range = std::lower_bound(
        face.beyondBmp.begin(), face.beyondBmp.end(), c,
        [](const std::pair<UINT32, UINT32>& r, UINT32 code) { return r.second < code; });
    return range != face.beyondBmp.end() && range->first <= c;
}

// Whether the face selected into dc has a glyph for each character of the BMP chunk at
// base; false when GDI can't tell.
bool GlyphsOfChunk(HDC dc, UINT32 base, ChunkMask* mask)
{
    std::vector<wchar_t> units(kChunkSize);
    std::vector<WORD> glyphs(kChunkSize);
    for (UINT32 i = 0; i < kChunkSize; ++i)
        units[i] = static_cast<wchar_t>(base + i);
    if (GetGlyphIndicesW(dc, units.data(), kChunkSize, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) != kChunkSize)
        return false;
    for (UINT32 i = 0; i < kChunkSize; ++i)
        (*mask)[i] = glyphs[i] != 0xFFFF && glyphs[i] != 0 && (base + i < 0xD800 || base + i > 0xDFFF);
    return true;
}

// Learns which characters of the chunk the face covers, with one selection of the face.
void ProbeChunk(HDC dc, FaceCoverage* face, unsigned chunk)
{
    ScopedFont font(CreateFace(*face));
    ScopedSelectObject selected(dc, font.Get());
    ChunkMask mask;
    const UINT32 base = chunk << kChunkBits;
    if (!selected.IsSelected()) {
        // No such face here: it covers nothing.
    } else if (chunk < kBmpChunks) {
        GlyphsOfChunk(dc, base, &mask);
    } else {
        if (!face->cmapRead)
            ReadBeyondBmp(dc, face);
        for (UINT32 i = 0; i < kChunkSize; ++i)
            mask[i] = BeyondBmpCovers(*face, base + i);
    }
    StoreChunk(face, chunk, mask);
}

bool Covers(HDC dc, FaceCoverage* face, UINT32 c)
{
    const unsigned chunk = c >> kChunkBits;
    if (face->chunk[chunk] == kUnprobed)
        ProbeChunk(dc, face, chunk);
    const unsigned short state = face->chunk[chunk];
    return state == kAll || (state >= kPartial && face->masks[state - kPartial][c & (kChunkSize - 1)]);
}

// The pane's face last asked about, and what of the BMP it covers: learnt at its first
// text with one selection, and held in static storage, so that neither a text it draws
// whole nor a view whose pane has another face leaves anything behind.
struct PaneFace {
    std::wstring name;
    BYTE charset;
    bool learnt;
    std::bitset<0x10000> bmp;
};

PaneFace& LearnPaneFace(HDC dc, const std::wstring& name, BYTE charset)
{
    static PaneFace face;
    if (face.learnt && face.charset == charset && face.name == name)
        return face;
    face.learnt = false;
    face.name = name;
    face.charset = charset;
    face.bmp.reset();
    FaceCoverage request(name, charset);
    ScopedFont font(CreateFace(request));
    ScopedSelectObject selected(dc, font.Get());
    ChunkMask mask;
    for (UINT32 base = 0; selected.IsSelected() && base < 0x10000; base += kChunkSize)
        if (GlyphsOfChunk(dc, base, &mask))
            for (UINT32 i = 0; i < kChunkSize; ++i)
                face.bmp[base + i] = mask[i];
    face.learnt = true;
    return face;
}

// The code point at text[at], and where the next one begins (a lone surrogate is itself).
UINT32 CodeAt(const std::wstring& text, LONG at, LONG* next)
{
    const UINT32 high = text[at];
    if (high >= 0xD800 && high < 0xDC00 && at + 1 < static_cast<LONG>(text.size()) && text[at + 1] >= 0xDC00 &&
        text[at + 1] < 0xE000) {
        *next = at + 2;
        return 0x10000 + ((high - 0xD800) << 10) + (text[at + 1] - 0xDC00u);
    }
    *next = at + 1;
    return high;
}

// Control characters (the paragraph marks, tabs) and lone surrogates are drawn by no
// glyph of any face: they never ask for another face.
bool Neutral(UINT32 c)
{
    return c < 0x20 || c == 0x7F || (c >= 0xD800 && c < 0xE000);
}

// Between two ranges given one face, what may take that face too rather than cut the
// range in two: blanks, ASCII digits and punctuation, and the controls. Fewer ranges are
// fewer reformats of the control.
bool Joinable(UINT32 c)
{
    return Neutral(c) || (c < 0x80 && !((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) || c == 0xA0 || c == 0x3000;
}

struct Range {
    LONG from;   // the first unit
    LONG to;     // the unit after the last
    int face;    // in the candidates
};

// The candidates, each learnt only as far as a character asks: a face and a chunk are
// probed once per process, and only when no face before it covers the character.
class Candidates {
public:
    Candidates(HDC dc, const std::vector<std::wstring>& names) : dc_(dc), names_(names), faces_(names.size(), NULL) {}
    int Count() const { return static_cast<int>(faces_.size()); }
    FaceCoverage* Face(int face)
    {
        if (!faces_[face])
            faces_[face] = FindFace(names_[face], DEFAULT_CHARSET);
        return faces_[face];
    }
    bool Covers(int face, UINT32 c) { return ::Covers(dc_, Face(face), c); }
    // The first face from `from` on that covers c, or -1.
    int First(UINT32 c, int from = 0)
    {
        if (from == 0) {
            std::unordered_map<UINT32, int>::const_iterator known = first_.find(c);
            if (known != first_.end())
                return known->second;
        }
        int found = -1;
        for (int face = from; face < Count() && found < 0; ++face)
            if (Covers(face, c))
                found = face;
        if (from == 0)
            first_[c] = found;
        return found;
    }

private:
    HDC dc_;
    const std::vector<std::wstring>& names_;
    std::vector<FaceCoverage*> faces_;
    std::unordered_map<UINT32, int> first_;
};

// The faces for one run [from, to) of units the pane's face lacks: one face that covers it
// all, else character by character, the face in use kept while it covers the next.
void ChooseFaces(Candidates* candidates, const std::wstring& text, LONG from, LONG to,
                 std::vector<Range>* ranges)
{
    LONG next;
    const UINT32 first = CodeAt(text, from, &next);
    for (int face = candidates->First(first); face >= 0; face = candidates->First(first, face + 1)) {
        bool all = true;
        for (LONG at = next; at < to && all;) {
            const UINT32 code = CodeAt(text, at, &at);
            all = candidates->Covers(face, code);
        }
        if (all) {
            ranges->push_back(Range{from, to, face});
            return;
        }
    }
    int face = -1;
    for (LONG at = from; at < to; at = next) {
        const UINT32 code = CodeAt(text, at, &next);
        if (face >= 0 && candidates->Covers(face, code)) {
            ranges->back().to = next;
            continue;
        }
        face = candidates->First(code);
        if (face >= 0)
            ranges->push_back(Range{at, next, face});
    }
}

// Ranges of one face with only joinable characters of that face between them become one.
void JoinRanges(Candidates* candidates, const std::wstring& text, std::vector<Range>* ranges)
{
    std::vector<Range> joined;
    for (const Range& range : *ranges) {
        if (!joined.empty() && joined.back().face == range.face) {
            LONG at = joined.back().to, next = at;
            while (at < range.from) {
                const UINT32 code = CodeAt(text, at, &next);
                if (!Joinable(code) || !(Neutral(code) || candidates->Covers(range.face, code)))
                    break;
                at = next;
            }
            if (at == range.from) {
                joined.back().to = range.to;
                continue;
            }
        }
        joined.push_back(range);
    }
    ranges->swap(joined);
}

// Puts back what reformatting ranges changes of the pane: its selection, its scroll
// position, its modified flag, an empty undo record; and draws nothing meanwhile.
class KeptPaneState {
public:
    explicit KeptPaneState(HWND pane) : pane_(pane)
    {
        selection_.cpMin = selection_.cpMax = 0;
        SendMessageA(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection_));
        scroll_.x = scroll_.y = 0;
        SendMessageA(pane, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll_));
        modified_ = SendMessageA(pane, EM_GETMODIFY, 0, 0) != 0;
        undoable_ = SendMessageA(pane, EM_CANUNDO, 0, 0) != 0;
        // Only while shown: WM_SETREDRAW TRUE would make a hidden pane visible.
        visible_ = IsWindowVisible(pane) != 0;
        if (visible_)
            SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
    }
    ~KeptPaneState()
    {
        SendMessageA(pane_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection_));
        SendMessageA(pane_, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll_));
        SendMessageA(pane_, EM_SETMODIFY, modified_, 0);
        if (!undoable_)
            SendMessageA(pane_, EM_EMPTYUNDOBUFFER, 0, 0);
        if (visible_) {
            SendMessageA(pane_, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(pane_, NULL, TRUE);
        }
    }
    KeptPaneState(const KeptPaneState&) = delete;
    KeptPaneState& operator=(const KeptPaneState&) = delete;

private:
    HWND pane_;
    CHARRANGE selection_;
    POINT scroll_;
    bool modified_;
    bool undoable_;
    bool visible_;
};

int ApplyFaces(HWND pane, const std::vector<std::wstring>* names)
{
    CHARFORMAT2W format;
    std::memset(&format, 0, sizeof format);
    format.cbSize = sizeof format;
    SendMessageA(pane, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    if (!(format.dwMask & CFM_FACE) || !format.szFaceName[0])
        return 0;
    std::wstring text;
    if (!ReadPaneText(pane, &text) || text.empty())
        return 0;

    ScopedMemoryDc dc(CreateCompatibleDC(NULL));
    if (!dc.IsValid())
        return 0;
    PaneFace& own = LearnPaneFace(dc.Get(), std::wstring(format.szFaceName, wcsnlen(format.szFaceName, LF_FACESIZE)),
                                  format.bCharSet);
    // Beyond the BMP from its cmap, read for this text only and when it needs it.
    FaceCoverage beyond(own.name, own.charset);
    // The runs the pane's face lacks; nothing more is done for a text it draws whole.
    std::vector<Range> runs;
    for (LONG at = 0, next = 0; at < static_cast<LONG>(text.size()); at = next) {
        const UINT32 code = CodeAt(text, at, &next);
        if (code >= 0x10000 && !beyond.cmapRead) {
            ScopedFont font(CreateFace(beyond));
            ScopedSelectObject selected(dc.Get(), font.Get());
            beyond.cmapRead = true;
            if (selected.IsSelected())
                ReadBeyondBmp(dc.Get(), &beyond);
        }
        if (Neutral(code) || (code < 0x10000 ? own.bmp[code] : BeyondBmpCovers(beyond, code)))
            continue;
        if (!runs.empty() && runs.back().to == at)
            runs.back().to = next;
        else
            runs.push_back(Range{at, next, -1});
    }
    if (runs.empty())
        return 0;

    Candidates candidates(dc.Get(), names ? *names : InstalledFaces(dc.Get()));
    std::vector<Range> ranges;
    for (const Range& run : runs)
        ChooseFaces(&candidates, text, run.from, run.to, &ranges);
    JoinRanges(&candidates, text, &ranges);
    if (ranges.empty())
        return 0;
    if (ranges.size() > kMostRanges)
        ranges.resize(kMostRanges);

    KeptPaneState kept(pane);
    CHARFORMAT2W face;
    std::memset(&face, 0, sizeof face);
    face.cbSize = sizeof face;
    // The charset is any: the pane's own (Shift_JIS, say) would make the font mapper take
    // another face that has that charset.
    face.dwMask = CFM_FACE | CFM_CHARSET;
    face.bCharSet = DEFAULT_CHARSET;
    for (const Range& range : ranges) {
        lstrcpynW(face.szFaceName, candidates.Face(range.face)->name.c_str(), LF_FACESIZE);
        CHARRANGE units = {range.from, range.to};
        SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&units));
        SendMessageA(pane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&face));
    }
    return static_cast<int>(ranges.size());
}

}  // namespace

int ApplyFallbackFaces(HWND pane, const std::vector<std::wstring>* faces)
{
    return Guarded("ApplyFallbackFaces", [&] { return ApplyFaces(pane, faces); }, [] { return 0; });
}
