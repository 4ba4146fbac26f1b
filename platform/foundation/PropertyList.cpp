#include "platform/foundation/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include "platform/foundation/BinaryPlistLayout.h"
#include "platform/foundation/Utf8.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

// Nesting beyond this is refused rather than risking the stack, and so is a
// list of more than kMaxNodes values (a binary one counted once shared
// objects are expanded, as the library copies them): the lists this platform
// keeps hold a few thousand values at most.
constexpr int kMaxDepth = 512;
constexpr uint64_t kMaxNodes = uint64_t{1} << 16;

// The library's XML reader takes any nesting and any number of values, but
// freeing a very deep tree recurses: measure the nesting of containers and
// count the values (keys included, as in a binary list) first.
struct XmlShape {
    size_t depth = 0;
    uint64_t nodes = 0;
};

XmlShape xmlShape(std::string_view xml) {
    XmlShape shape;
    size_t depth = 0;
    const auto startsWith = [&](size_t at, std::string_view word) { return xml.compare(at, word.size(), word) == 0; };
    for (size_t i = xml.find('<'); i != std::string_view::npos; i = xml.find('<', i + 1)) {
        if (startsWith(i, "<!--") || startsWith(i, "<![CDATA[")) {
            const size_t end = xml.find(startsWith(i, "<!--") ? "-->" : "]]>", i);
            if (end == std::string_view::npos) break;
            i = end;
            continue;
        }
        const bool closing = startsWith(i, "</");
        const size_t name = i + (closing ? 2 : 1);
        size_t nameEnd = name;
        while (nameEnd < xml.size() && std::isalpha(static_cast<unsigned char>(xml[nameEnd]))) ++nameEnd;
        const std::string_view tag = xml.substr(name, nameEnd - name);
        if (tag.empty() || tag == "plist") continue;
        if (!closing) ++shape.nodes;
        if (tag != "array" && tag != "dict") continue;
        const size_t end = xml.find('>', nameEnd);
        if (end == std::string_view::npos) break;
        if (closing) depth = depth > 0 ? depth - 1 : 0;
        else if (xml[end - 1] != '/') shape.depth = std::max(shape.depth, ++depth);
        i = end;
    }
    return shape;
}

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// ---- strings ---------------------------------------------------------------

// The format library mangles invalid UTF-8 and stops at a NUL; repair both
// openly instead (replacement character, cut at the NUL), with a log line.
std::string plistSafeString(const std::string& s, const std::string& path) {
    std::string out;
    bool repaired = false;
    size_t end = s.find('\0');
    if (end != std::string::npos) repaired = true;
    else end = s.size();
    std::string_view view(s.data(), end);
    out.reserve(end);
    for (size_t i = 0; i < view.size();) {
        const utf8::Decoded d = utf8::decode(view, i);
        if (!d.valid) {
            out += "\xEF\xBF\xBD";
            repaired = true;
        } else {
            out.append(view, i, d.size);
        }
        i += d.size;
    }
    if (repaired)
        log(LogLevel::Warning,
            "property list: string at " + shortenedForLog(path) + " is not NUL-free UTF-8; stored repaired");
    return out;
}

// ---- dates -----------------------------------------------------------------

// The library's date API carries 32-bit seconds since 2001.
constexpr double kMinDate = static_cast<double>(std::numeric_limits<int32_t>::min());
constexpr double kMaxDate = static_cast<double>(std::numeric_limits<int32_t>::max());

// `written` collects the exact value of each date, put back into the bytes
// after the library has written them (see BinaryPlistLayout).
plist_t newDate(const NSDate& date, const std::string& path, std::vector<double>& written) {
    double t = date.timeIntervalSinceReferenceDate();
    if (!(t >= kMinDate && t <= kMaxDate)) {
        log(LogLevel::Warning,
            "property list: date at " + shortenedForLog(path) + " is outside 1933–2069; stored at the nearest limit");
        t = std::isnan(t) ? 0 : std::clamp(t, kMinDate, kMaxDate);
    }
    const int64_t micros = std::llround(t * 1e6);
    int64_t seconds = micros / 1000000;
    int64_t rest = micros % 1000000;
    if (rest < 0) {
        rest += 1000000;
        seconds -= 1;
    }
    if (seconds > std::numeric_limits<int32_t>::max()) { seconds = std::numeric_limits<int32_t>::max(); rest = 0; }
    written.push_back(t);
    return plist_new_date(static_cast<int32_t>(seconds), static_cast<int32_t>(rest));
}

// The library reads a binary date's double back truncated (and mishandles the
// sign of dates before 2001), losing a microsecond now and then. Each parsed
// date is matched to the exact value left in the bytes (`raw`, sorted).
NSDate readDate(plist_t node, const std::vector<double>& raw) {
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    const double forward = sec + usec / 1e6;
    const double backward = sec - std::abs(static_cast<double>(usec)) / 1e6;  // how the library splits dates before 2001
    double best = forward;
    double bestDistance = BinaryPlistLayout::kDateTolerance;  // anything further is another date
    for (double guess : {forward, backward})
        if (std::optional<double> nearest = BinaryPlistLayout::nearestDate(raw, guess, bestDistance)) best = *nearest;
    return NSDate::dateWithTimeIntervalSinceReferenceDate(best);
}

// ---- Value → plist -----------------------------------------------------------

struct ToPlist {
    std::string* error;
    std::vector<double> dates;  // exact values, in no order

    PlistPtr fail(const std::string& message) {
        if (error && error->empty()) *error = message;
        return nullptr;
    }

    PlistPtr convert(const Value& value, const std::string& path, int depth) {
        if (depth > kMaxDepth) return fail("nesting deeper than " + std::to_string(kMaxDepth) + " at " + path);
        switch (value.kind()) {
        case Value::Kind::Null:
            return fail("null value at " + path);
        case Value::Kind::Object:
            return fail("object of class " + value.object()->className() + " at " + path);
        case Value::Kind::Bool:
            return PlistPtr(plist_new_bool(value.boolValue() ? 1 : 0));
        case Value::Kind::Integer:
            return PlistPtr(plist_new_uint(static_cast<uint64_t>(value.integerValue())));
        case Value::Kind::Double:
            return PlistPtr(plist_new_real(value.doubleValue()));
        case Value::Kind::String:
            return PlistPtr(plist_new_string(plistSafeString(*value.string(), path).c_str()));
        case Value::Kind::Data: {
            const NSData& d = *value.data();
            return PlistPtr(plist_new_data(reinterpret_cast<const char*>(d.bytes()), d.length()));
        }
        case Value::Kind::Date:
            return PlistPtr(newDate(*value.date(), path, dates));
        case Value::Kind::Array: {
            PlistPtr array(plist_new_array());
            size_t index = 0;
            for (const Value& item : *value.array()) {
                PlistPtr child = convert(item, path + "[" + std::to_string(index++) + "]", depth + 1);
                if (!child) return nullptr;
                plist_array_append_item(array.get(), child.release());
            }
            return array;
        }
        case Value::Kind::Dictionary: {
            PlistPtr dict(plist_new_dict());
            for (const auto& [key, item] : *value.dictionary()) {
                const std::string childPath = path + "/" + key;
                PlistPtr child = convert(item, childPath, depth + 1);
                if (!child) return nullptr;
                plist_dict_set_item(dict.get(), plistSafeString(key, childPath).c_str(), child.release());
            }
            return dict;
        }
        }
        return fail("unknown kind at " + path);
    }
};

// ---- plist → Value -----------------------------------------------------------

struct FromPlist {
    const std::vector<double>& rawDates;
    bool tooDeep = false;

    Value convert(plist_t node, int depth) {
        if (depth > kMaxDepth) {
            tooDeep = true;
            return Value();
        }
        switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT:
        case PLIST_UID: {
            uint64_t u = 0;
            if (plist_get_node_type(node) == PLIST_UID) plist_get_uid_val(node, &u);
            else plist_get_uint_val(node, &u);
            return Value(static_cast<long long>(static_cast<int64_t>(u)));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return Value(std::string(s ? s : "", s ? length : 0));
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(node, &length);
            return Value(NSData(bytes, bytes ? length : 0));
        }
        case PLIST_DATE:
            return Value(readDate(node, rawDates));
        case PLIST_ARRAY: {
            Value::Array items;
            const uint32_t size = plist_array_get_size(node);
            items.reserve(size);
            // The iterator walks the list once; the library finds item i of a
            // binary list by walking from its head.
            plist_array_iter it = nullptr;
            plist_array_new_iter(node, &it);
            for (uint32_t i = 0; i < size && !tooDeep; ++i) {
                plist_t item = nullptr;
                plist_array_next_item(node, it, &item);
                if (!item) break;
                items.push_back(convert(item, depth + 1));
            }
            std::free(it);
            return Value(std::move(items));
        }
        case PLIST_DICT: {
            ValueDictionary dict;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            while (it && !tooDeep) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, it, &key, &item);
                if (!key) break;
                std::string name(key);
                std::free(key);
                if (item) dict.set(std::move(name), convert(item, depth + 1));
            }
            std::free(it);
            return Value(std::move(dict));
        }
        default:
            return Value();
        }
    }
};

}  // namespace

std::optional<NSData> PropertyList::dataWithValue(const Value& value, Format format, std::string* error) {
    if (error) error->clear();
    ToPlist converter{error, {}};
    PlistPtr root = converter.convert(value, "/", 0);
    if (!root) return std::nullopt;
    char* bytes = nullptr;  // the library writes only into a null pointer
    uint32_t length = 0;
    if (format == Format::Binary) plist_to_bin(root.get(), &bytes, &length);
    else plist_to_xml(root.get(), &bytes, &length);
    if (!bytes) {
        if (error) *error = "the property list could not be serialised";
        return std::nullopt;
    }
    if (format == Format::Binary) {
        std::sort(converter.dates.begin(), converter.dates.end());
        BinaryPlistLayout::restoreExactDates(reinterpret_cast<uint8_t*>(bytes), length, converter.dates);
    }
    NSData data(bytes, length);
    if (format == Format::Binary) plist_to_bin_free(bytes);
    else plist_to_xml_free(bytes);
    return data;
}

std::optional<Value> PropertyList::valueWithData(const NSData& data, std::string_view source) {
    const auto corrupt = [&](std::string_view why) {
        log(LogLevel::Error, "property list: " + shortenedForLog(source) + ": " + std::string(why) + "; ignored");
        return std::nullopt;
    };
    if (data.length() == 0) return corrupt("empty");
    if (data.length() > std::numeric_limits<uint32_t>::max()) return corrupt("too large");
    const char* bytes = reinterpret_cast<const char*>(data.bytes());
    const auto length = static_cast<uint32_t>(data.length());
    const bool binary = plist_is_binary(bytes, length) != 0;
    std::vector<double> rawDates;
    plist_t parsed = nullptr;
    if (binary) {
        // The library recurses and copies shared objects: check the graph first.
        std::optional<BinaryPlistLayout> layout = BinaryPlistLayout::parse(data.bytes(), data.length());
        if (!layout) return corrupt("corrupt or truncated");
        if (std::string why = layout->checkGraph(kMaxDepth, kMaxNodes); !why.empty()) return corrupt(why);
        rawDates = layout->dates();
        plist_from_bin(bytes, length, &parsed);
    } else {
        const std::string_view text(bytes, length);
        if (text.find("<plist") == std::string_view::npos) return corrupt("neither a binary nor an XML property list");
        const XmlShape shape = xmlShape(text);
        if (shape.depth > kMaxDepth) return corrupt("nested too deeply");
        if (shape.nodes > kMaxNodes) return corrupt("too many objects");
        plist_from_xml(bytes, length, &parsed);
    }
    if (!parsed) return corrupt("corrupt or truncated");
    PlistPtr root(parsed);
    FromPlist converter{rawDates};
    Value value = converter.convert(root.get(), 0);
    if (converter.tooDeep) return corrupt("nested too deeply");
    return value;
}

std::optional<Value> PropertyList::valueWithContentsOfFile(const std::string& path, bool* unreadable) {
    FileRead read = NSData::readFile(path);  // a failure other than absence is logged there
    if (unreadable) *unreadable = read.unreadable();
    if (!read.data) return std::nullopt;
    return valueWithData(*read.data, path);
}

bool PropertyList::writeToFile(const Value& value, const std::string& path, Format format) {
    std::string error;
    std::optional<NSData> data = dataWithValue(value, format, &error);
    if (!data) {
        log(LogLevel::Error, "property list: not written to " + shortenedForLog(path) + ": " + shortenedForLog(error));
        return false;
    }
    if (!data->writeToFile(path, true)) {
        log(LogLevel::Error, "property list: cannot write " + shortenedForLog(path));
        return false;
    }
    return true;
}

}  // namespace platform
