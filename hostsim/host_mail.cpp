// Loading a stored mail into a view, as the host does it.
#include "hostsim/host_sim.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace hostsim {

namespace {

std::string Lower(std::string text)
{
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    return text;
}

// Splits at the first empty line; header lines come back joined with LF.
void SplitHeader(const std::string& mail, std::string* header, std::string* body)
{
    header->clear();
    size_t pos = 0;
    while (pos < mail.size()) {
        size_t end = mail.find('\n', pos);
        size_t next = end == std::string::npos ? mail.size() : end + 1;
        std::string line = mail.substr(pos, (end == std::string::npos ? mail.size() : end) - pos);
        if (!line.empty() && line[line.size() - 1] == '\r')
            line.erase(line.size() - 1);
        pos = next;
        if (line.empty())
            break;
        *header += line;
        *header += '\n';
    }
    *body = mail.substr(pos < mail.size() ? pos : mail.size());
}

// The value of a header field, unfolded, or "".
std::string FieldValue(const std::string& header, const char* name)
{
    std::string lowered = Lower(header);
    std::string key = std::string("\n") + Lower(name) + ":";
    std::string text = "\n" + lowered;
    size_t at = text.find(key);
    if (at == std::string::npos)
        return "";
    size_t start = at + key.size() - 1;  // index in header
    std::string value;
    size_t pos = start;
    while (pos < header.size()) {
        size_t end = header.find('\n', pos);
        if (end == std::string::npos)
            end = header.size();
        value += header.substr(pos, end - pos);
        pos = end + 1;
        if (pos >= header.size() || (header[pos] != ' ' && header[pos] != '\t'))
            break;
    }
    return value;
}

std::string Parameter(const std::string& value, const char* name)
{
    std::string lowered = Lower(value);
    size_t at = lowered.find(std::string(name) + "=");
    if (at == std::string::npos)
        return "";
    size_t pos = at + std::strlen(name) + 1;
    if (pos < value.size() && value[pos] == '"') {
        size_t end = value.find('"', pos + 1);
        return value.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
    }
    size_t end = value.find_first_of("; \t\r\n", pos);
    return value.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodeQuotedPrintable(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\n') {
            i += 1;
        } else if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;
        } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += '=';
        }
    }
    return out;
}

std::string DecodeBase64(const std::string& text)
{
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

UINT CodePageOf(const std::string& charset)
{
    std::string c = Lower(charset);
    if (c == "utf-8") return CP_UTF8;
    if (c == "iso-2022-jp") return 50220;
    if (c == "euc-jp") return 20932;
    if (c == "shift_jis" || c == "shift-jis" || c == "sjis" || c == "windows-31j") return 932;
    if (c == "iso-8859-1" || c == "us-ascii" || c == "windows-1252") return 1252;
    return 0;
}

std::string ToAnsi(const std::string& text, UINT codePage)
{
    if (codePage == 0 || codePage == 932 || text.empty())
        return text;
    int units = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    if (units <= 0)
        return text;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    int bytes = WideCharToMultiByte(932, 0, wide.data(), units, NULL, 0, "?", NULL);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(932, 0, wide.data(), units, &out[0], bytes, "?", NULL);
    return out;
}

// The text the host shows for one entity: its first text part, decoded.
std::string DisplayText(const std::string& header, const std::string& body, int depth)
{
    std::string type = FieldValue(header, "Content-Type");
    std::string boundary = Parameter(type, "boundary");
    if (Lower(type).find("multipart/") != std::string::npos && !boundary.empty() && depth < 8) {
        std::string delimiter = "--" + boundary;
        size_t at = body.find(delimiter);
        if (at != std::string::npos) {
            size_t start = body.find('\n', at);
            size_t end = start == std::string::npos ? std::string::npos : body.find(delimiter, start);
            if (start != std::string::npos) {
                std::string part = body.substr(start + 1, end == std::string::npos ? std::string::npos
                                                                                     : end - start - 1);
                std::string partHeader, partBody;
                SplitHeader(part, &partHeader, &partBody);
                return DisplayText(partHeader, partBody, depth + 1);
            }
        }
    }
    std::string encoding = Lower(FieldValue(header, "Content-Transfer-Encoding"));
    std::string decoded = body;
    if (encoding.find("base64") != std::string::npos)
        decoded = DecodeBase64(body);
    else if (encoding.find("quoted-printable") != std::string::npos)
        decoded = DecodeQuotedPrintable(body);
    return ToAnsi(decoded, CodePageOf(Parameter(type, "charset")));
}

}  // namespace

bool ReadMailForView(const char* path, std::string* header, std::string* ansiBody)
{
    header->clear();
    ansiBody->clear();
    FILE* file = path ? std::fopen(path, "rb") : NULL;
    if (!file)
        return false;
    std::string mail;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        mail.append(chunk, n);
    std::fclose(file);
    std::string body;
    SplitHeader(mail, header, &body);
    *ansiBody = DisplayText(*header, body, 0);
    return true;
}

DWORD LoadMailIntoView(const Plugin& plugin, const ViewWindow& view, const char* path)
{
    std::string header, body;
    ReadMailForView(path, &header, &body);
    if (view.hostPane)
        SetWindowTextA(view.hostPane, body.c_str());
    SetViewPath(view.frame, path);
    return plugin.ViewLoadMail ? plugin.ViewLoadMail(view.frame, header.c_str(), 0) : 0;
}

}  // namespace hostsim
