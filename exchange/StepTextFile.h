// StepTextFile: a scanner and parameter parser of the ISO 10303-21 exchange structure (the
// STEP file syntax), shared by the STEP reader and its tests. Internal, not exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VelSDK {
namespace Exchange {
namespace detail {

/// One parameter of an entity instance.
struct StepTextValue {
    enum Kind : unsigned char {
        Integer,      ///< number without point or exponent: `integer` and `real` both hold it
        Real,         ///< `real`
        String,       ///< `text` with doubled quotes and control directives decoded (UTF-8)
        Enumeration,  ///< `text` without the dots, e.g. "T", "UNSPECIFIED"
        Reference,    ///< `integer` = instance number
        Unset,        ///< `$`
        Derived,      ///< `*`
        Binary,       ///< `text` with the hexadecimal digits
        List,         ///< `items`
        Typed         ///< `text` = type keyword, `items` = one value, e.g. LENGTH_MEASURE(1.)
    };
    Kind kind = Unset;
    long long integer = 0;
    double real = 0.0;
    std::string text;
    std::vector<StepTextValue> items;
};

/// One (partial) entity: its keyword and its own parameters. A simple instance has one
/// record, a complex instance one per entity of its type list.
struct StepTextRecord {
    std::string name;
    std::vector<StepTextValue> params;
};

/// Where an instance of the DATA section sits in the text.
struct StepTextInstance {
    std::uint64_t id = 0;
    std::size_t begin = 0;  ///< first character after '='
    std::size_t end = 0;    ///< the terminating ';'
    std::size_t line = 0;   ///< 1-based line of the '#'
};

/// Scans a whole file once (Scan), then parses instances on demand (Parse). The text is
/// borrowed and must outlive the object. Memory: one StepTextInstance per instance.
class StepTextFile {
public:
    /// Checks the structure ISO-10303-21; HEADER; ... ENDSEC; DATA ... ENDSEC; ...
    /// END-ISO-10303-21; and indexes the instances of every DATA section. On failure returns
    /// false with a message and the 1-based line where the problem was found.
    bool Scan(const std::string& text, std::string& error, std::size_t& line);

    /// Instances sorted by number.
    const std::vector<StepTextInstance>& Instances() const { return m_instances; }
    /// The instance with this number, or nullptr.
    const StepTextInstance* Find(std::uint64_t id) const;

    /// Keywords of an instance's records, in file order, without parsing its parameters
    /// (upper case as written). Returns false on a syntax error.
    bool RecordNames(const StepTextInstance& instance, std::vector<std::string>& names) const;

    /// Parses an instance into its records. Lists nest at most kMaxDepth deep. On failure
    /// returns false with a message and the line of the offending character.
    bool Parse(const StepTextInstance& instance, std::vector<StepTextRecord>& records, std::string& error,
               std::size_t& line) const;

    /// Line of a character offset inside an instance (counts the line breaks from its start).
    std::size_t LineOf(const StepTextInstance& instance, std::size_t offset) const;

    static constexpr int kMaxDepth = 64;

private:
    const std::string* m_text = nullptr;
    std::vector<StepTextInstance> m_instances;
};

}  // namespace detail
}  // namespace Exchange
}  // namespace VelSDK
