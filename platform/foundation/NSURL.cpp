#include "platform/foundation/NSURL.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "platform/foundation/Utf8.h"

namespace platform {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes a URL may never hold unescaped.
bool isOutsideURLSet(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

// Letters, digits and the marks and reserved characters that stay unescaped
// by the standard escaping.
bool isLegalURLCharacter(unsigned char c) {
    return isAlpha(static_cast<char>(c)) || isDigit(static_cast<char>(c)) ||
           (c != 0 && std::strchr("-_.!~*'();/?:@&=+$,", c) != nullptr);
}

std::string percentEscape(unsigned char c) {
    static const char* hex = "0123456789ABCDEF";
    return {'%', hex[c >> 4], hex[c & 0x0F]};
}

}  // namespace

// RFC 3986 5.2.4 in one pass: the input is read through an index and the
// output's last segment is cut from its end, so a path of many segments
// costs time linear in its length (a page may hand over megabytes of them).
std::string removeDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    const auto dropLastSegment = [&] {
        size_t cut = out.rfind('/');
        out.erase(cut == std::string::npos ? 0 : cut);
    };
    size_t i = 0;
    while (i < in.size()) {
        std::string_view rest = in.substr(i);
        if (rest.starts_with("../")) {
            i += 3;
        } else if (rest.starts_with("./") || rest.starts_with("/./")) {
            i += 2;  // "/./" leaves its second "/"
        } else if (rest == "/.") {
            out += '/';
            break;
        } else if (rest.starts_with("/../")) {
            i += 3;
            dropLastSegment();
        } else if (rest == "/..") {
            dropLastSegment();
            out += '/';
            break;
        } else if (rest == "." || rest == "..") {
            break;
        } else {
            size_t next = in.find('/', i + (rest[0] == '/' ? 1 : 0));
            if (next == std::string_view::npos) next = in.size();
            out.append(in.substr(i, next - i));
            i = next;
        }
    }
    return out;
}

std::string addPercentEscapes(std::string_view text, std::string_view leaveUnescaped,
                              std::string_view forceEscaped) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        bool keep = (isLegalURLCharacter(c) && forceEscaped.find(ch) == std::string_view::npos) ||
                    (c != 0 && leaveUnescaped.find(ch) != std::string_view::npos);
        if (keep) out += ch;
        else out += percentEscape(c);
    }
    return out;
}

std::string NSString::stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s,
                                                                       const NSCharacterSet& allowed) {
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    while (pos < s.size()) {
        utf8::Decoded d = utf8::decode(s, pos);
        if (d.valid && allowed.characterIsMember(d.codePoint)) {
            out.append(s.substr(pos, d.size));
        } else {
            for (size_t k = 0; k < d.size; ++k) out += percentEscape(static_cast<unsigned char>(s[pos + k]));
        }
        pos += d.size;
    }
    return out;
}

std::optional<std::string> removePercentEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        if (!isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) return std::nullopt;
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    if (!NSString::isValidUTF8(out)) return std::nullopt;
    return out;
}

std::optional<NSURL::Parts> NSURL::parse(std::string_view s) {
    if (s.empty()) return std::nullopt;
    bool seenHash = false;
    for (size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (isOutsideURLSet(c)) return std::nullopt;
        if (c == '%' && (i + 2 >= s.size() || !isHexDigit(s[i + 1]) || !isHexDigit(s[i + 2])))
            return std::nullopt;
        if (c == '#') {
            if (seenHash) return std::nullopt;
            seenHash = true;
        }
    }

    Parts p;
    size_t pos = 0;
    if (isAlpha(s[0])) {
        size_t i = 1;
        while (i < s.size() && (isAlpha(s[i]) || isDigit(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.')) ++i;
        if (i < s.size() && s[i] == ':') {
            p.schemeEnd = i;
            pos = i + 1;
        }
    }

    auto hasBracket = [&](size_t from, size_t to) {
        return s.substr(from, to - from).find_first_of("[]") != std::string_view::npos;
    };

    if (s.substr(pos, 2) == "//") {
        p.hasAuthority = true;
        p.authorityBegin = pos + 2;
        size_t end = s.find_first_of("/?#", p.authorityBegin);
        p.authorityEnd = end == std::string_view::npos ? s.size() : end;
        std::string_view authority = s.substr(p.authorityBegin, p.authorityEnd - p.authorityBegin);
        size_t at = authority.rfind('@');
        size_t hostBegin = at == std::string_view::npos ? 0 : at + 1;
        if (at != std::string_view::npos && authority.substr(0, at).find_first_of("[]") != std::string_view::npos)
            return std::nullopt;
        std::string_view hostPort = authority.substr(hostBegin);
        size_t hostLen;
        std::string_view portText;
        bool hasPort = false;
        if (!hostPort.empty() && hostPort[0] == '[') {
            size_t close = hostPort.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            if (hostPort.substr(1, close - 1).find('[') != std::string_view::npos) return std::nullopt;
            hostLen = close + 1;
            std::string_view after = hostPort.substr(hostLen);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                hasPort = true;
                portText = after.substr(1);
            }
            p.hostBegin = p.authorityBegin + hostBegin + 1;
            p.hostEnd = p.authorityBegin + hostBegin + close;
        } else {
            if (hostPort.find_first_of("[]") != std::string_view::npos) return std::nullopt;
            size_t colon = hostPort.find(':');
            hostLen = colon == std::string_view::npos ? hostPort.size() : colon;
            if (colon != std::string_view::npos) {
                hasPort = true;
                portText = hostPort.substr(colon + 1);
            }
            p.hostBegin = p.authorityBegin + hostBegin;
            p.hostEnd = p.hostBegin + hostLen;
        }
        if (hasPort && !portText.empty()) {
            if (portText.size() > 5) return std::nullopt;
            int port = 0;
            for (char c : portText) {
                if (!isDigit(c)) return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (port > 65535) return std::nullopt;
            p.port = port;
        }
        pos = p.authorityEnd;
    }

    p.pathBegin = pos;
    size_t pathEnd = s.find_first_of("?#", pos);
    p.pathEnd = pathEnd == std::string_view::npos ? s.size() : pathEnd;
    pos = p.pathEnd;
    if (pos < s.size() && s[pos] == '?') {
        p.hasQuery = true;
        p.queryBegin = pos + 1;
        size_t hash = s.find('#', p.queryBegin);
        p.queryEnd = hash == std::string_view::npos ? s.size() : hash;
        pos = p.queryEnd;
    }
    if (pos < s.size() && s[pos] == '#') {
        p.hasFragment = true;
        p.fragmentBegin = pos + 1;
    }
    if (hasBracket(p.pathBegin, s.size())) return std::nullopt;
    return p;
}

Ref<NSURL> NSURL::initWithString(std::string_view text) {
    auto parts = parse(text);
    if (!parts) return nullptr;
    text_ = std::string(text);
    parts_ = *parts;
    return self<NSURL>();
}

Ref<NSURL> NSURL::URLWithString(std::string_view text) { return alloc<NSURL>()->initWithString(text); }

void NSURL::encodeWithCoder(NSCoder& coder) const { coder.encodeObject(Value(text_), "NS.relative"); }

void NSURL::initWithCoder(const NSCoder& coder) {
    const std::string* text = coder.decodeObjectForKey("NS.relative").string();
    auto parts = text ? parse(*text) : std::nullopt;
    if (!parts || text->empty()) throw std::invalid_argument("archived URL text does not parse");
    text_ = *text;
    parts_ = *parts;
}

Ref<NSURL> NSURL::URLWithString(std::string_view text, const Ref<NSURL>& base) {
    if (!base) return URLWithString(text);
    // The reference must be valid on its own before it is resolved.
    auto refParts = text.empty() ? std::optional<Parts>(Parts{}) : parse(text);
    if (!refParts) return nullptr;
    const Parts& r = *refParts;
    if (r.schemeEnd > 0) {
        // Absolute: the URL as it stands, with the parts just read.
        auto url = alloc<NSURL>();
        url->text_ = std::string(text);
        url->parts_ = r;
        return url;
    }

    const std::string& b = base->text_;
    const Parts& bp = base->parts_;
    auto sub = [](std::string_view s, size_t from, size_t to) { return std::string(s.substr(from, to - from)); };

    std::string result = bp.schemeEnd > 0 ? b.substr(0, bp.schemeEnd + 1) : std::string();
    std::string query;
    bool hasQuery = false;
    if (r.hasAuthority) {
        result += "//" + sub(text, r.authorityBegin, r.authorityEnd);
        result += removeDotSegments(sub(text, r.pathBegin, r.pathEnd));
        hasQuery = r.hasQuery;
        if (hasQuery) query = sub(text, r.queryBegin, r.queryEnd);
    } else {
        if (bp.hasAuthority) result += "//" + sub(b, bp.authorityBegin, bp.authorityEnd);
        std::string refPath = text.empty() ? std::string() : sub(text, r.pathBegin, r.pathEnd);
        if (refPath.empty()) {
            result += sub(b, bp.pathBegin, bp.pathEnd);
            hasQuery = r.hasQuery || bp.hasQuery;
            if (r.hasQuery) query = sub(text, r.queryBegin, r.queryEnd);
            else if (bp.hasQuery) query = sub(b, bp.queryBegin, bp.queryEnd);
        } else {
            if (refPath[0] == '/') {
                result += removeDotSegments(refPath);
            } else {
                std::string basePath = sub(b, bp.pathBegin, bp.pathEnd);
                std::string merged;
                if (bp.hasAuthority && basePath.empty()) {
                    merged = "/" + refPath;
                } else {
                    size_t slash = basePath.rfind('/');
                    merged = (slash == std::string::npos ? std::string() : basePath.substr(0, slash + 1)) + refPath;
                }
                result += removeDotSegments(merged);
            }
            hasQuery = r.hasQuery;
            if (hasQuery) query = sub(text, r.queryBegin, r.queryEnd);
        }
    }
    if (hasQuery) result += "?" + query;
    if (r.hasFragment) result += "#" + std::string(text.substr(r.fragmentBegin));
    return URLWithString(result);
}

Ref<NSURL> NSURL::fileURLWithPath(std::string_view path) {
    std::string absolute(path);
    if (absolute.empty() || absolute[0] != '/') {
        std::error_code ec;
        auto cwd = std::filesystem::current_path(ec);
        absolute = (ec ? std::string("/") : cwd.string() + "/") + absolute;
    }
    return URLWithString("file://" + addPercentEscapes(absolute, {}, "?"));
}

std::string NSURL::scheme() const { return text_.substr(0, parts_.schemeEnd); }

std::string NSURL::host() const {
    if (!parts_.hasAuthority) return {};
    std::string raw = text_.substr(parts_.hostBegin, parts_.hostEnd - parts_.hostBegin);
    auto decoded = removePercentEscapes(raw);
    return decoded ? *decoded : raw;
}

std::optional<int> NSURL::port() const { return parts_.port; }

std::string_view NSURL::rawPath() const {
    return std::string_view(text_).substr(parts_.pathBegin, parts_.pathEnd - parts_.pathBegin);
}

std::string NSURL::path() const {
    std::string_view raw = rawPath();
    if (parts_.schemeEnd > 0 && !parts_.hasAuthority && (raw.empty() || raw[0] != '/')) return {};
    auto decoded = removePercentEscapes(raw);
    if (!decoded) return {};
    if (decoded->size() > 1 && decoded->back() == '/') decoded->pop_back();
    return *decoded;
}

std::optional<std::string> NSURL::query() const {
    if (!parts_.hasQuery) return std::nullopt;
    return text_.substr(parts_.queryBegin, parts_.queryEnd - parts_.queryBegin);
}

std::optional<std::string> NSURL::fragment() const {
    if (!parts_.hasFragment) return std::nullopt;
    return text_.substr(parts_.fragmentBegin);
}

std::string NSURL::lastPathComponent() const {
    std::string p = path();
    if (p.empty() || p == "/") return p;
    return p.substr(p.rfind('/') + 1);
}

std::vector<std::string> NSURL::pathComponents() const {
    std::string p = path();
    std::vector<std::string> out;
    if (p.empty()) return out;
    if (p[0] == '/') out.emplace_back("/");
    size_t i = 0;
    while (i < p.size()) {
        size_t next = p.find('/', i);
        if (next == std::string::npos) next = p.size();
        if (next > i) out.push_back(p.substr(i, next - i));
        i = next + 1;
    }
    return out;
}

std::string NSURL::pathExtension() const {
    std::string last = lastPathComponent();
    size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return last.substr(dot + 1);
}

Ref<NSURL> NSURL::withPath(std::string_view newRawPath) const {
    std::string text = text_.substr(0, parts_.pathBegin);
    text += newRawPath;
    text += text_.substr(parts_.pathEnd);
    return URLWithString(text);
}

Ref<NSURL> NSURL::URLByDeletingPathExtension() const {
    std::string raw(rawPath());
    bool trailingSlash = raw.size() > 1 && raw.back() == '/';
    if (trailingSlash) raw.pop_back();
    size_t segment = raw.rfind('/');
    segment = segment == std::string::npos ? 0 : segment + 1;
    size_t dot = raw.rfind('.');
    if (dot != std::string::npos && dot > segment) raw.erase(dot);
    if (trailingSlash) raw += '/';
    return withPath(raw);
}

Ref<NSURL> NSURL::URLByAppendingPathComponent(std::string_view component) const {
    std::string raw(rawPath());
    if (!raw.empty() && raw.back() != '/') raw += '/';
    else if (raw.empty() && parts_.hasAuthority) raw = "/";
    raw += addPercentEscapes(component, {}, "?");
    return withPath(raw);
}

bool NSURL::isFileURL() const {
    std::string s = scheme();
    return s.size() == 4 && (s[0] | 0x20) == 'f' && (s[1] | 0x20) == 'i' && (s[2] | 0x20) == 'l' &&
           (s[3] | 0x20) == 'e';
}

bool NSURL::setResourceValue(bool, std::string_view) { return true; }

bool NSURL::isEqual(const NSObject& other) const {
    auto* url = dynamic_cast<const NSURL*>(&other);
    return url != nullptr && url->text_ == text_;
}

size_t NSURL::hash() const { return std::hash<std::string>()(text_); }

}  // namespace platform
