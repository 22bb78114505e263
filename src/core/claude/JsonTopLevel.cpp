#include "claude/JsonTopLevel.h"

#include "base/FileIO.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace JsonTopLevel {
namespace {

// Bytes that may stand in a string without a closer look.
constexpr std::array<bool, 256> makePlain() {
    std::array<bool, 256> t{};
    for (int c = 0x20; c < 0x80; ++c)
        t[c] = c != '"' && c != '\\';
    return t;
}
constexpr auto kPlain = makePlain();

constexpr std::size_t kBufferSize = 256 * 1024;

bool isWhite(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// A number the full parser would refuse because its value overflows a double (1e400).
// Underflow (1e-400) reads as zero there and is fine.
bool overflowsDouble(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc::result_out_of_range)
        return false;
    std::size_t i = text.starts_with('-') ? 1 : 0;
    long long intDigits = 0;
    long long firstNonZero = LLONG_MIN; // decimal magnitude of the leading non-zero digit
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++intDigits)
        if (firstNonZero == LLONG_MIN && text[i] != '0')
            firstNonZero = intDigits; // fixed up below once the count is known
    if (firstNonZero != LLONG_MIN)
        firstNonZero = intDigits - firstNonZero - 1;
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (long long k = 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++k)
            if (firstNonZero == LLONG_MIN && text[i] != '0')
                firstNonZero = -k;
    }
    if (firstNonZero == LLONG_MIN)
        return false; // zero
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negative = text[i++] == '-';
        for (; i < text.size(); ++i)
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[i] - '0');
        if (negative)
            exponent = -exponent;
    }
    return firstNonZero + exponent > 0;
}

class Scanner {
public:
    explicit Scanner(std::string_view text)
        : m_p(reinterpret_cast<const unsigned char*>(text.data()))
        , m_end(m_p + text.size()) {}
    explicit Scanner(int fd)
        : m_fd(fd)
        , m_buffer(kBufferSize) {
        refill();
    }

    bool ioFailed() const { return m_ioFailed; }

    bool run(const std::vector<std::string>& wanted, Result& result) {
        static constexpr unsigned char kBom[] = {0xEF, 0xBB, 0xBF};
        if (m_end - m_p >= 3 && std::equal(kBom, kBom + 3, m_p))
            m_p += 3;
        skipWhite();
        const int first = peek();
        if (first < 0)
            return false;
        if (first != '{') {
            result.isObject = false;
            return value() && atEnd();
        }
        result.isObject = true;
        next();
        skipWhite();
        if (peek() == '}') {
            next();
            return atEnd();
        }
        std::string key;
        for (;;) {
            if (next() != '"')
                return false;
            key.clear();
            if (!string(&key))
                return false;
            skipWhite();
            if (next() != ':')
                return false;
            skipWhite();
            bool isWanted = false;
            for (const auto& w : wanted)
                isWanted = isWanted || w == key;
            if (isWanted) {
                std::string& out = result.members[key];
                out.clear();
                if (peek() < 0)
                    return false;
                beginCapture(out);
                const bool ok = value();
                endCapture();
                if (!ok)
                    return false;
            } else if (!value()) {
                return false;
            }
            skipWhite();
            const int c = next();
            if (c == '}')
                break;
            if (c != ',')
                return false;
            skipWhite();
        }
        return atEnd();
    }

private:
    bool refill() {
        if (m_capture) {
            m_capture->append(reinterpret_cast<const char*>(m_captureStart),
                              static_cast<std::size_t>(m_end - m_captureStart));
            m_captureStart = m_end;
        }
        if (m_fd < 0 || m_eof)
            return false;
        for (;;) {
            const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_ioFailed = n < 0;
                m_eof = true;
                m_p = m_end = m_captureStart = m_buffer.data();
                return false;
            }
            m_p = m_captureStart = m_buffer.data();
            m_end = m_p + n;
            return true;
        }
    }
    int peek() {
        if (m_p == m_end && !refill())
            return -1;
        return *m_p;
    }
    int next() {
        if (m_p == m_end && !refill())
            return -1;
        return *m_p++;
    }
    void skipWhite() {
        for (;;) {
            while (m_p < m_end && isWhite(*m_p))
                ++m_p;
            if (m_p < m_end || !refill())
                return;
        }
    }
    bool atEnd() {
        skipWhite();
        return peek() < 0 && !m_ioFailed;
    }
    void beginCapture(std::string& out) {
        m_capture = &out;
        m_captureStart = m_p;
    }
    void endCapture() {
        m_capture->append(reinterpret_cast<const char*>(m_captureStart),
                          static_cast<std::size_t>(m_p - m_captureStart));
        m_capture = nullptr;
    }

    bool literal(const char* rest) {
        for (; *rest; ++rest)
            if (next() != *rest)
                return false;
        return true;
    }

    int hex4() {
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = Text::hexValue(next());
            if (h < 0)
                return -1;
            v = v << 4 | h;
        }
        return v;
    }

    // After the opening quote; decoded text goes to `out` when given.
    bool string(std::string* out) {
        for (;;) {
            const unsigned char* start = m_p;
            while (m_p < m_end && kPlain[*m_p])
                ++m_p;
            if (out)
                out->append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(m_p - start));
            const int c = next();
            if (c < 0)
                return false;
            if (c == '"')
                return true;
            if (c == '\\') {
                if (!escape(out))
                    return false;
            } else if (c < 0x20) {
                return false;
            } else if (c >= 0x80) {
                if (!utf8(c, out))
                    return false;
            } else if (out) {
                out->push_back(static_cast<char>(c)); // reached only at a buffer boundary
            }
        }
    }

    bool escape(std::string* out) {
        const int c = next();
        char simple = 0;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            simple = static_cast<char>(c);
            break;
        case 'b':
            simple = '\b';
            break;
        case 'f':
            simple = '\f';
            break;
        case 'n':
            simple = '\n';
            break;
        case 'r':
            simple = '\r';
            break;
        case 't':
            simple = '\t';
            break;
        case 'u': {
            int cp = hex4();
            if (cp < 0)
                return false;
            if (cp >= 0xDC00 && cp <= 0xDFFF)
                return false; // a low surrogate without its high one
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (next() != '\\' || next() != 'u')
                    return false;
                const int low = hex4();
                if (low < 0xDC00 || low > 0xDFFF)
                    return false;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            if (out)
                appendUtf8(*out, static_cast<std::uint32_t>(cp));
            return true;
        }
        default:
            return false;
        }
        if (out)
            out->push_back(simple);
        return true;
    }

    // A multi-byte UTF-8 sequence whose lead byte was read (the ranges of RFC 3629).
    bool utf8(int lead, std::string* out) {
        int count = 0;
        int lo = 0x80;
        int hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            count = 1;
        } else if (lead == 0xE0) {
            count = 2;
            lo = 0xA0;
        } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
            count = 2;
        } else if (lead == 0xED) {
            count = 2;
            hi = 0x9F;
        } else if (lead == 0xF0) {
            count = 3;
            lo = 0x90;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            count = 3;
        } else if (lead == 0xF4) {
            count = 3;
            hi = 0x8F;
        } else {
            return false;
        }
        if (out)
            out->push_back(static_cast<char>(lead));
        for (int i = 0; i < count; ++i) {
            const int c = next();
            if (c < lo || c > hi)
                return false;
            lo = 0x80;
            hi = 0xBF;
            if (out)
                out->push_back(static_cast<char>(c));
        }
        return true;
    }

    bool digitsInto(bool required) {
        bool any = false;
        for (int c = peek(); c >= '0' && c <= '9'; c = peek()) {
            m_number.push_back(static_cast<char>(next()));
            any = true;
        }
        return any || !required;
    }

    // A number whose first character was read.
    bool number(int first) {
        m_number.assign(1, static_cast<char>(first));
        int c = first;
        if (c == '-') {
            c = next();
            if (c < '0' || c > '9')
                return false;
            m_number.push_back(static_cast<char>(c));
        }
        if (c != '0')
            digitsInto(false);
        bool exponent = false;
        if (peek() == '.') {
            m_number.push_back(static_cast<char>(next()));
            if (!digitsInto(true))
                return false;
        }
        if (const int e = peek(); e == 'e' || e == 'E') {
            exponent = true;
            m_number.push_back(static_cast<char>(next()));
            if (const int s = peek(); s == '+' || s == '-')
                m_number.push_back(static_cast<char>(next()));
            if (!digitsInto(true))
                return false;
        }
        return !(exponent || m_number.size() > 300) || !overflowsDouble(m_number);
    }

    bool memberKey() {
        if (next() != '"' || !string(nullptr))
            return false;
        skipWhite();
        if (next() != ':')
            return false;
        return true;
    }

    // One complete value, nested ones included, without recursion.
    bool value() {
        m_stack.clear();
        for (;;) {
            skipWhite();
            const int c = next();
            bool scalarDone = true;
            switch (c) {
            case '{':
                skipWhite();
                if (peek() == '}') {
                    next();
                } else {
                    m_stack.push_back(1);
                    if (!memberKey())
                        return false;
                    scalarDone = false;
                }
                break;
            case '[':
                skipWhite();
                if (peek() == ']') {
                    next();
                } else {
                    m_stack.push_back(0);
                    scalarDone = false;
                }
                break;
            case '"':
                if (!string(nullptr))
                    return false;
                break;
            case 't':
                if (!literal("rue"))
                    return false;
                break;
            case 'f':
                if (!literal("alse"))
                    return false;
                break;
            case 'n':
                if (!literal("ull"))
                    return false;
                break;
            default:
                if (c == '-' || (c >= '0' && c <= '9')) {
                    if (!number(c))
                        return false;
                    break;
                }
                return false;
            }
            if (!scalarDone)
                continue; // the first element or member value follows
            // Close containers until a comma asks for the next value.
            for (;;) {
                if (m_stack.empty())
                    return true;
                skipWhite();
                const int d = next();
                if (d == ',') {
                    skipWhite();
                    if (m_stack.back() == 1 && !memberKey())
                        return false;
                    break;
                }
                if ((d == '}' && m_stack.back() == 1) || (d == ']' && m_stack.back() == 0)) {
                    m_stack.pop_back();
                    continue;
                }
                return false;
            }
        }
    }

    const unsigned char* m_p = nullptr;
    const unsigned char* m_end = nullptr;
    int m_fd = -1;
    std::vector<unsigned char> m_buffer;
    bool m_eof = false;
    bool m_ioFailed = false;
    std::string* m_capture = nullptr;
    const unsigned char* m_captureStart = nullptr;
    std::vector<unsigned char> m_stack; // 1 = object, 0 = array
    std::string m_number;
};

} // namespace

std::optional<Result> scan(std::string_view text, const std::vector<std::string>& wanted) {
    Result result;
    Scanner scanner(text);
    if (!scanner.run(wanted, result))
        return std::nullopt;
    return result;
}

std::optional<Result> scanFile(const std::filesystem::path& path, const std::vector<std::string>& wanted) {
    FileIO::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        return std::nullopt;
    Result result;
    Scanner scanner(fd.get());
    if (!scanner.run(wanted, result) || scanner.ioFailed())
        return std::nullopt;
    return result;
}

} // namespace JsonTopLevel
