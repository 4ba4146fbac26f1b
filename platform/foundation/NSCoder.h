// Keyed archiving of records: NSCoding is what an archivable class
// implements; NSCoder carries its fields by key, both ways.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSCoder;

// An archivable class is also registered (NSClassRegistry) and
// default-constructible; initWithCoder runs on the freshly made instance.
class NSCoding : public virtual NSObjectProtocol {
public:
    virtual void encodeWithCoder(NSCoder& coder) const = 0;
    virtual void initWithCoder(const NSCoder& coder) = 0;
};

class NSCoder : public NSObject {
public:
    // An Object must implement NSCoding; one that does not is archived as
    // Null with an error line, and so is an object that contains itself.
    void encodeObject(const Value& value, const std::string& key);
    void encodeBool(bool value, const std::string& key);
    void encodeInt32(int32_t value, const std::string& key);
    void encodeInt64(int64_t value, const std::string& key);
    void encodeInteger(int64_t value, const std::string& key);
    void encodeDouble(double value, const std::string& key);
    void encodeFloat(float value, const std::string& key);

    // Absent keys give Null, false or 0. Numeric getters accept any number
    // (converted, saturating); another kind reads as absent. An object field
    // that cannot be decoded reads as Null (logged).
    Value decodeObjectForKey(const std::string& key) const;
    bool decodeBoolForKey(const std::string& key) const;
    int32_t decodeInt32ForKey(const std::string& key) const;
    int64_t decodeInt64ForKey(const std::string& key) const;
    int64_t decodeIntegerForKey(const std::string& key) const;
    double decodeDoubleForKey(const std::string& key) const;
    float decodeFloatForKey(const std::string& key) const;
    bool containsValueForKey(const std::string& key) const;

private:
    friend class NSKeyedArchiver;
    friend class NSKeyedUnarchiver;

    // Value → archive node; `encoding` holds the objects being encoded (cycles).
    static Value encodeNode(const Value& value, std::vector<const NSObject*>& encoding);
    // Archive node → Value; nullopt (logged) when the node cannot be decoded.
    static std::optional<Value> decodeNode(const Value& node);
    const Value* numberField(const std::string& key) const;

    ValueDictionary fields_;                       // key → node
    std::vector<const NSObject*>* encoding_ = nullptr;
};

}  // namespace platform

using platform::NSCoder;
using platform::NSCoding;
