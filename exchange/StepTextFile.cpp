// Scanner and parser of the ISO 10303-21 exchange structure. The grammar followed is the
// one of ISO 10303-21:2016, clause 6 (tokens) and clause 9-10 (header and data sections),
// read tolerantly: blanks, line breaks and comments /* ... */ may stand between any two
// tokens, keywords are compared in upper case, instances may refer to instances defined
// later. Every loop advances through the text, so the time is linear in its length.
#include "exchange/StepTextFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace VelSDK {
namespace Exchange {
namespace detail {

namespace {

bool IsKeywordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '!'; }
bool IsKeywordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendUtf8(std::string& out, unsigned long cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Undoes the control directives of a string literal (ISO 10303-21, 6.4.3): \\ is one
// backslash, \X\hh one byte, \X2\...\X0\ and \X4\...\X0\ UCS-2 / UCS-4 characters (to UTF-8),
// \S\c the character c + 128, \Px\ page switches (dropped). Anything else stays as written.
std::string DecodeString(const std::string& raw) {
    std::string out;
    std::size_t i = 0;
    auto hexAt = [&](std::size_t at, std::size_t count, unsigned long& value) {
        if (at + count > raw.size()) return false;
        value = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const int d = HexDigit(raw[at + k]);
            if (d < 0) return false;
            value = value * 16 + static_cast<unsigned long>(d);
        }
        return true;
    };
    // The next \X0\ at or after a position, found once per stretch (keeps the decoding linear).
    std::size_t end = 0;
    bool endKnown = false;
    auto NextEnd = [&](std::size_t from) {
        if (!endKnown || (end != std::string::npos && end < from)) {
            end = raw.find("\\X0\\", from);
            endKnown = true;
        }
        return end;
    };
    while (i < raw.size()) {
        if (raw[i] != '\\') {
            out += raw[i++];
            continue;
        }
        unsigned long v = 0;
        if (raw.compare(i, 2, "\\\\") == 0) {
            out += '\\';
            i += 2;
        } else if (raw.compare(i, 3, "\\X\\") == 0 && hexAt(i + 3, 2, v)) {
            out += static_cast<char>(v);
            i += 5;
        } else if ((raw.compare(i, 4, "\\X2\\") == 0 || raw.compare(i, 4, "\\X4\\") == 0) &&
                   NextEnd(i + 4) != std::string::npos) {
            const std::size_t width = raw[i + 2] == '2' ? 4 : 8;
            const std::size_t stop = NextEnd(i + 4);
            std::size_t k = i + 4;
            std::string chars;
            bool good = (stop - k) % width == 0;
            for (; good && k < stop; k += width) {
                good = hexAt(k, width, v);
                if (good) AppendUtf8(chars, v);
            }
            if (!good) {
                out += raw[i++];
                continue;
            }
            out += chars;
            i = stop + 4;
        } else if (raw.compare(i, 3, "\\S\\") == 0 && i + 3 < raw.size()) {
            out += static_cast<char>(static_cast<unsigned char>(raw[i + 3]) + 128);
            i += 4;
        } else if (raw.compare(i, 2, "\\P") == 0 && i + 3 < raw.size() && raw[i + 3] == '\\') {
            i += 4;
        } else {
            out += raw[i++];
        }
    }
    return out;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A cursor over [pos, end) of the text that counts lines and reports the first error.
class Cursor {
public:
    Cursor(const std::string& text, std::size_t pos, std::size_t end, std::size_t line)
        : m_text(text), m_pos(pos), m_end(end), m_line(line) {}

    bool AtEnd() const { return m_pos >= m_end; }
    char Peek() const { return m_pos < m_end ? m_text[m_pos] : '\0'; }
    std::size_t Pos() const { return m_pos; }
    std::size_t Line() const { return m_line; }
    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }
    std::size_t ErrorLine() const { return m_errorLine; }

    bool Fail(const std::string& message) { return FailAt(message, m_line); }
    bool FailAt(const std::string& message, std::size_t line) {
        if (m_error.empty()) {
            m_error = message;
            m_errorLine = line;
        }
        return false;
    }

    void Advance() {
        if (m_pos < m_end && m_text[m_pos] == '\n') ++m_line;
        ++m_pos;
    }

    // Skips blanks, line breaks and comments. An unterminated comment is an error.
    bool SkipBlanks() {
        while (m_pos < m_end) {
            const char c = m_text[m_pos];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                Advance();
            } else if (c == '/' && m_pos + 1 < m_end && m_text[m_pos + 1] == '*') {
                const std::size_t startLine = m_line;
                Advance();
                Advance();
                bool closed = false;
                while (m_pos < m_end) {
                    if (m_text[m_pos] == '*' && m_pos + 1 < m_end && m_text[m_pos + 1] == '/') {
                        Advance();
                        Advance();
                        closed = true;
                        break;
                    }
                    Advance();
                }
                if (!closed) return FailAt("comment opened here is not closed (truncated file?)", startLine);
            } else {
                break;
            }
        }
        return true;
    }

    // Reads a keyword at the cursor (no blanks skipped); empty when none starts here.
    std::string Keyword() {
        std::string k;
        if (m_pos < m_end && IsKeywordStart(m_text[m_pos])) {
            k.push_back(m_text[m_pos]);
            Advance();
            while (m_pos < m_end && IsKeywordChar(m_text[m_pos])) {
                k.push_back(m_text[m_pos]);
                Advance();
            }
        }
        return Upper(std::move(k));
    }

    // Skips blanks, then expects character c.
    bool Expect(char c, const std::string& what) {
        if (!SkipBlanks()) return false;
        if (Peek() != c) return Fail("expected " + what + Found());
        Advance();
        return true;
    }

    // Describes the character at the cursor for messages.
    std::string Found() const {
        if (m_pos >= m_end) return " but the text ends (truncated file?)";
        const unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
        if (c >= 0x20 && c < 0x7f) return std::string(" but found '") + static_cast<char>(c) + "'";
        static const char* hex = "0123456789abcdef";
        return std::string(" but found byte 0x") + hex[c >> 4] + hex[c & 15];
    }

    // Skips a string literal starting at the opening quote; the text between the quotes,
    // with doubled quotes made single, goes to *out when given.
    bool SkipString(std::string* out) {
        const std::size_t startLine = m_line;
        Advance();
        while (m_pos < m_end) {
            const char c = m_text[m_pos];
            if (c == '\'') {
                if (m_pos + 1 < m_end && m_text[m_pos + 1] == '\'') {
                    if (out) out->push_back('\'');
                    Advance();
                    Advance();
                    continue;
                }
                Advance();
                return true;
            }
            if (out) out->push_back(c);
            Advance();
        }
        return FailAt("string opened here is not closed (truncated file?)", startLine);
    }

    // Skips a binary literal "..." starting at the opening quote.
    bool SkipBinary(std::string* out) {
        const std::size_t startLine = m_line;
        Advance();
        while (m_pos < m_end) {
            const char c = m_text[m_pos];
            Advance();
            if (c == '"') return true;
            if (out) out->push_back(c);
        }
        return FailAt("binary value opened here is not closed (truncated file?)", startLine);
    }

    // Skips to the ';' that ends the current statement, outside strings, comments and
    // parentheses; the cursor stops on the ';'.
    bool SkipStatement(std::size_t statementLine) {
        long depth = 0;
        while (true) {
            if (!SkipBlanks()) return false;
            if (m_pos >= m_end) return FailAt("statement started here has no ';' (truncated file?)", statementLine);
            const char c = m_text[m_pos];
            if (c == '\'') {
                if (!SkipString(nullptr)) return false;
            } else if (c == '"') {
                if (!SkipBinary(nullptr)) return false;
            } else if (c == '(') {
                ++depth;
                Advance();
            } else if (c == ')') {
                if (--depth < 0) return Fail("')' without a matching '('");
                Advance();
            } else if (c == ';') {
                if (depth != 0) return Fail("';' inside an open parenthesis (missing ')')");
                return true;
            } else {
                Advance();
            }
        }
    }

private:
    const std::string& m_text;
    std::size_t m_pos;
    std::size_t m_end;
    std::size_t m_line;
    std::string m_error;
    std::size_t m_errorLine = 0;
};

// Reads "KEYWORD;" (the section keywords). Returns the keyword; the cursor is after the ';'.
bool ReadSectionKeyword(Cursor& cur, std::string& keyword) {
    if (!cur.SkipBlanks()) return false;
    keyword = cur.Keyword();
    return !keyword.empty();
}

// Parameter parser over one instance.
class ValueParser {
public:
    explicit ValueParser(Cursor& cur) : m_cur(cur) {}

    bool Records(std::vector<StepTextRecord>& records) {
        if (!m_cur.SkipBlanks()) return false;
        if (m_cur.Peek() == '(') {
            // Complex instance: ( NAME(...) NAME(...) ... )
            m_cur.Advance();
            while (true) {
                if (!m_cur.SkipBlanks()) return false;
                if (m_cur.Peek() == ')') {
                    m_cur.Advance();
                    break;
                }
                records.emplace_back();
                if (!Record(records.back())) return false;
            }
            if (records.empty()) return m_cur.Fail("complex instance without entities");
        } else {
            records.emplace_back();
            if (!Record(records.back())) return false;
        }
        if (!m_cur.SkipBlanks()) return false;
        if (!m_cur.AtEnd()) return m_cur.Fail("expected ';' after the instance" + m_cur.Found());
        return true;
    }

private:
    bool Record(StepTextRecord& record) {
        if (!m_cur.SkipBlanks()) return false;
        record.name = m_cur.Keyword();
        if (record.name.empty()) return m_cur.Fail("expected an entity name" + m_cur.Found());
        if (!m_cur.Expect('(', "'(' after " + record.name)) return false;
        return ParameterList(record.params, 1);
    }

    // Parameters up to the closing ')', which is consumed.
    bool ParameterList(std::vector<StepTextValue>& out, int depth) {
        if (depth > StepTextFile::kMaxDepth) return m_cur.Fail("lists nested deeper than 64 levels");
        if (!m_cur.SkipBlanks()) return false;
        if (m_cur.Peek() == ')') {
            m_cur.Advance();
            return true;
        }
        while (true) {
            out.emplace_back();
            if (!Value(out.back(), depth)) return false;
            if (!m_cur.SkipBlanks()) return false;
            const char c = m_cur.Peek();
            m_cur.Advance();
            if (c == ')') return true;
            if (c != ',') return m_cur.Fail(std::string("expected ',' or ')' in a parameter list") + FoundPrev(c));
        }
    }

    std::string FoundPrev(char c) const {
        if (c == '\0') return " but the instance ends";
        if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f)
            return std::string(" but found '") + c + "'";
        return " but found a control or non-ASCII byte";
    }

    bool Value(StepTextValue& v, int depth) {
        if (!m_cur.SkipBlanks()) return false;
        const char c = m_cur.Peek();
        if (c == '$') {
            v.kind = StepTextValue::Unset;
            m_cur.Advance();
            return true;
        }
        if (c == '*') {
            v.kind = StepTextValue::Derived;
            m_cur.Advance();
            return true;
        }
        if (c == '\'') {
            v.kind = StepTextValue::String;
            std::string raw;
            if (!m_cur.SkipString(&raw)) return false;
            v.text = DecodeString(raw);
            return true;
        }
        if (c == '"') {
            v.kind = StepTextValue::Binary;
            return m_cur.SkipBinary(&v.text);
        }
        if (c == '#') {
            m_cur.Advance();
            v.kind = StepTextValue::Reference;
            return Integer(v.integer, "instance number after '#'") &&
                   (v.integer > 0 || m_cur.Fail("instance number 0"));
        }
        if (c == '.') {
            m_cur.Advance();
            if (IsKeywordStart(m_cur.Peek())) {
                v.kind = StepTextValue::Enumeration;
                v.text = m_cur.Keyword();
                if (m_cur.Peek() != '.') return m_cur.Fail("enumeration ." + v.text + " is not closed by '.'");
                m_cur.Advance();
                return true;
            }
            return m_cur.Fail("expected an enumeration name after '.'" + m_cur.Found());
        }
        if (c == '(') {
            m_cur.Advance();
            v.kind = StepTextValue::List;
            return ParameterList(v.items, depth + 1);
        }
        if (IsKeywordStart(c)) {
            v.kind = StepTextValue::Typed;
            v.text = m_cur.Keyword();
            if (!m_cur.Expect('(', "'(' after the type " + v.text)) return false;
            if (!ParameterList(v.items, depth + 1)) return false;
            if (v.items.size() != 1) return m_cur.Fail("typed parameter " + v.text + " must hold one value");
            return true;
        }
        if (c == '+' || c == '-' || IsDigit(c)) return Number(v);
        return m_cur.Fail("expected a parameter" + m_cur.Found());
    }

    bool Integer(long long& out, const char* what) {
        std::string digits;
        while (IsDigit(m_cur.Peek())) {
            digits.push_back(m_cur.Peek());
            m_cur.Advance();
        }
        if (digits.empty()) return m_cur.Fail(std::string("expected ") + what + m_cur.Found());
        const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), out);
        if (r.ec != std::errc()) return m_cur.Fail(std::string("number too large: ") + digits);
        return true;
    }

    bool Number(StepTextValue& v) {
        std::string token;
        bool isReal = false;
        if (m_cur.Peek() == '+' || m_cur.Peek() == '-') {
            if (m_cur.Peek() == '-') token.push_back('-');
            m_cur.Advance();
        }
        const std::size_t digitsStart = token.size();
        while (IsDigit(m_cur.Peek())) {
            token.push_back(m_cur.Peek());
            m_cur.Advance();
        }
        if (token.size() == digitsStart) return m_cur.Fail("expected digits in a number" + m_cur.Found());
        if (m_cur.Peek() == '.') {
            isReal = true;
            token.push_back('.');
            m_cur.Advance();
            while (IsDigit(m_cur.Peek())) {
                token.push_back(m_cur.Peek());
                m_cur.Advance();
            }
        }
        if (m_cur.Peek() == 'E' || m_cur.Peek() == 'e') {
            isReal = true;
            token.push_back('E');
            m_cur.Advance();
            if (m_cur.Peek() == '+' || m_cur.Peek() == '-') {
                token.push_back(m_cur.Peek());
                m_cur.Advance();
            }
            if (!IsDigit(m_cur.Peek())) return m_cur.Fail("exponent without digits in " + token);
            while (IsDigit(m_cur.Peek())) {
                token.push_back(m_cur.Peek());
                m_cur.Advance();
            }
        }
        const char* first = token.data();
        const char* last = token.data() + token.size();
        if (isReal) {
            v.kind = StepTextValue::Real;
            const auto r = std::from_chars(first, last, v.real);
            if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v.real))
                return m_cur.Fail("number out of the range of doubles: " + Shorten(token));
            return true;
        }
        v.kind = StepTextValue::Integer;
        const auto r = std::from_chars(first, last, v.integer);
        if (r.ec != std::errc() || r.ptr != last) {
            // An integer beyond 64 bits still is a number; it is kept as a double when finite.
            const auto d = std::from_chars(first, last, v.real);
            if (d.ec != std::errc() || !std::isfinite(v.real))
                return m_cur.Fail("number out of the range of doubles: " + Shorten(token));
            v.kind = StepTextValue::Real;
            return true;
        }
        v.real = static_cast<double>(v.integer);
        return true;
    }

    static std::string Shorten(const std::string& s) { return s.size() <= 40 ? s : s.substr(0, 37) + "..."; }

    Cursor& m_cur;
};

}  // namespace

bool StepTextFile::Scan(const std::string& text, std::string& error, std::size_t& line) {
    m_text = &text;
    m_instances.clear();
    Cursor cur(text, 0, text.size(), 1);
    auto fail = [&](const std::string& message, std::size_t at) {
        error = message;
        line = at;
        m_instances.clear();
        return false;
    };
    auto failCursor = [&]() { return fail(cur.Error(), cur.ErrorLine()); };

    std::string keyword;
    if (!ReadSectionKeyword(cur, keyword) || keyword != "ISO-10303-21")
        return cur.Failed() ? failCursor()
                            : fail("not an ISO 10303-21 exchange structure (no ISO-10303-21;)", cur.Line());
    if (!cur.Expect(';', "';' after ISO-10303-21")) return failCursor();

    // HEADER section: statements without instance numbers, skipped.
    if (!ReadSectionKeyword(cur, keyword) || keyword != "HEADER")
        return cur.Failed() ? failCursor() : fail("expected HEADER;" + cur.Found(), cur.Line());
    if (!cur.Expect(';', "';' after HEADER")) return failCursor();
    while (true) {
        if (!cur.SkipBlanks()) return failCursor();
        const std::size_t statementLine = cur.Line();
        if (cur.AtEnd()) return fail("HEADER section is not closed by ENDSEC; (truncated file?)", statementLine);
        keyword = cur.Keyword();
        if (keyword.empty()) return fail("expected a header entity or ENDSEC;" + cur.Found(), statementLine);
        if (keyword == "ENDSEC") {
            if (!cur.Expect(';', "';' after ENDSEC")) return failCursor();
            break;
        }
        if (!cur.SkipStatement(statementLine)) return failCursor();
        cur.Advance();
    }

    // Sections until END-ISO-10303-21: DATA (with or without parameters); ANCHOR, REFERENCE
    // and SIGNATURE sections of later editions are skipped.
    bool sawData = false;
    while (true) {
        if (!cur.SkipBlanks()) return failCursor();
        const std::size_t sectionLine = cur.Line();
        if (cur.AtEnd()) return fail("no END-ISO-10303-21; at the end (truncated file?)", sectionLine);
        keyword = cur.Keyword();
        if (keyword == "END-ISO-10303-21") {
            if (!cur.Expect(';', "';' after END-ISO-10303-21")) return failCursor();
            break;
        }
        if (keyword.empty()) return fail("expected a section keyword" + cur.Found(), sectionLine);
        const bool isData = keyword == "DATA";
        if (isData) {
            sawData = true;
            if (!cur.SkipStatement(sectionLine)) return failCursor();  // DATA; or DATA(...);
            cur.Advance();
        } else if (keyword == "ANCHOR" || keyword == "REFERENCE" || keyword == "SIGNATURE") {
            if (!cur.Expect(';', "';' after the section keyword")) return failCursor();
        } else {
            return fail("unknown section " + keyword, sectionLine);
        }
        while (true) {
            if (!cur.SkipBlanks()) return failCursor();
            const std::size_t statementLine = cur.Line();
            if (cur.AtEnd())
                return fail(keyword + " section opened on line " + std::to_string(sectionLine) +
                                " is not closed by ENDSEC; (truncated file?)",
                            statementLine);
            if (cur.Peek() == '#' && isData) {
                cur.Advance();
                std::string digits;
                while (IsDigit(cur.Peek())) {
                    digits.push_back(cur.Peek());
                    cur.Advance();
                }
                StepTextInstance inst;
                inst.line = statementLine;
                const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), inst.id);
                if (digits.empty() || r.ec != std::errc() || inst.id == 0)
                    return fail("expected an instance number after '#'", statementLine);
                if (!cur.Expect('=', "'=' after the instance number")) return failCursor();
                inst.begin = cur.Pos();
                if (!cur.SkipStatement(statementLine)) return failCursor();
                inst.end = cur.Pos();
                cur.Advance();
                m_instances.push_back(inst);
                continue;
            }
            const std::string k = cur.Keyword();
            if (k == "ENDSEC") {
                if (!cur.Expect(';', "';' after ENDSEC")) return failCursor();
                break;
            }
            if (isData || k.empty())
                return fail(
                    std::string(isData ? "expected an instance '#number = ...;' or ENDSEC;" : "expected ENDSEC;") +
                        cur.Found(),
                    statementLine);
            if (!cur.SkipStatement(statementLine)) return failCursor();
            cur.Advance();
        }
    }
    if (!sawData) return fail("the file has no DATA section", cur.Line());
    if (!cur.SkipBlanks()) return failCursor();

    std::stable_sort(m_instances.begin(), m_instances.end(),
                     [](const StepTextInstance& a, const StepTextInstance& b) { return a.id < b.id; });
    for (std::size_t i = 1; i < m_instances.size(); ++i)
        if (m_instances[i].id == m_instances[i - 1].id)
            return fail("instance #" + std::to_string(m_instances[i].id) + " is defined twice (also on line " +
                            std::to_string(m_instances[i - 1].line) + ")",
                        m_instances[i].line);
    return true;
}

const StepTextInstance* StepTextFile::Find(std::uint64_t id) const {
    const auto it = std::lower_bound(m_instances.begin(), m_instances.end(), id,
                                     [](const StepTextInstance& a, std::uint64_t v) { return a.id < v; });
    return it != m_instances.end() && it->id == id ? &*it : nullptr;
}

bool StepTextFile::RecordNames(const StepTextInstance& instance, std::vector<std::string>& names) const {
    names.clear();
    Cursor cur(*m_text, instance.begin, instance.end, instance.line);
    if (!cur.SkipBlanks()) return false;
    const bool complex = cur.Peek() == '(';
    if (complex) cur.Advance();
    while (true) {
        if (!cur.SkipBlanks()) return false;
        std::string k = cur.Keyword();
        if (k.empty()) return complex && cur.Peek() == ')' && !names.empty();
        names.push_back(std::move(k));
        if (!complex) return true;
        // Skip the record's parameter list.
        if (!cur.SkipBlanks() || cur.Peek() != '(') return false;
        long depth = 0;
        while (!cur.AtEnd()) {
            const char c = cur.Peek();
            if (c == '\'') {
                if (!cur.SkipString(nullptr)) return false;
                continue;
            }
            if (c == '"') {
                if (!cur.SkipBinary(nullptr)) return false;
                continue;
            }
            if (c == '/') {
                if (!cur.SkipBlanks()) return false;
                if (cur.Peek() == '/') cur.Advance();
                continue;
            }
            cur.Advance();
            if (c == '(') ++depth;
            if (c == ')' && --depth == 0) break;
        }
        if (depth != 0) return false;
    }
}

bool StepTextFile::Parse(const StepTextInstance& instance, std::vector<StepTextRecord>& records, std::string& error,
                         std::size_t& line) const {
    records.clear();
    Cursor cur(*m_text, instance.begin, instance.end, instance.line);
    ValueParser parser(cur);
    if (parser.Records(records)) return true;
    error = "#" + std::to_string(instance.id) + ": " + cur.Error();
    line = cur.ErrorLine();
    records.clear();
    return false;
}

std::size_t StepTextFile::LineOf(const StepTextInstance& instance, std::size_t offset) const {
    std::size_t line = instance.line;
    const std::size_t stop = std::min(offset, m_text->size());
    for (std::size_t i = instance.begin; i < stop; ++i)
        if ((*m_text)[i] == '\n') ++line;
    return line;
}

}  // namespace detail
}  // namespace Exchange
}  // namespace VelSDK
