// The VelSAX document framework: base64, text conversion and formatting, the XML writer
// and reader, binary blocks, incremental saving, and refusal of bad documents.
#include <VelSDK/StringConversion.h>
#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VSAXIncrementalDocumentReader.h>
#include <VelSDK/VStreamTextOut.h>
#include <VelSDK/VelSAX.h>

#include "persistence/Base64.h"
#include "persistence/CurveFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace VelSAX;

namespace {

using test::Bits;
using test::FromBits;

// A handler that logs what the reader calls and can be steered per element.
struct LogHandler : ISAXPersist {
    std::vector<std::string> log;
    std::function<bool(const std::string&, ISAXReader&)> onTag;
    void SetDefaults() override { log.push_back("defaults"); }
    bool HandleTag(const std::string& name, ISAXReader& reader) override {
        std::string text;
        reader.ReadValue(text);
        log.push_back("<" + name + ":" + text + "|" + reader.ParentTagName(1));
        return onTag ? onTag(name, reader) : true;
    }
    void HandleEndTag(std::string_view name) override { log.push_back("/" + std::string(name)); }
    void ResolveReferences(ISAXReader&) override { log.push_back("resolve"); }
    void InitAfterLoading() override { log.push_back("init"); }
    bool Write(ISAXWriter&) const override { return false; }
    ISAXReference* GetObjectReference() override { return this; }
};

VSAXReadResult ReadDoc(const std::string& xml, ISAXPersistBase& root) {
    VSAXDocumentReader reader;
    return reader.Read(xml, root);
}

}  // namespace

TEST(VelSAXBase64, MatchesTheStandardVectorsRoundTripsAndRefusesNonCanonicalText) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        std::string out;
        detail::Base64Encode(plain[i], out, "");
        EXPECT_EQ(out, coded[i]);
    }
    std::string data, text, error;
    for (int i = 0; i < 100; ++i) data += static_cast<char>(i * 37);
    detail::Base64Encode(data, text, "\n  ");
    EXPECT_EQ(text.find("\n  ", 1), 79u) << text;  // lines of 76 characters
    std::vector<unsigned char> back;
    ASSERT_TRUE(detail::Base64Decode(text, back, error)) << error;
    EXPECT_EQ(std::string(back.begin(), back.end()), data);
    EXPECT_TRUE(detail::Base64Decode(" Zm9v\r\n\tYg== ", back, error));
    for (const char* bad : {"Zm9", "Zm9vY", "Zm=v", "Z===", "Zg==Zg==", "Zh==", "Zm9=", "Zm9v!A==", "=Zg="})
        EXPECT_FALSE(detail::Base64Decode(bad, back, error)) << bad;
}

TEST(VelSAXText, Utf8ConversionAndShortestDoubles) {
    const std::wstring wide = L"double \u00e9\u4e2d\U0001F600";
    EXPECT_EQ(StringConversion::NativeToUtf8(wide), "double \xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(StringConversion::Utf8ToNative(StringConversion::NativeToUtf8(wide)), wide);
    // The smallest code point of each length is not overlong; bad UTF-8 (overlong, surrogate)
    // becomes U+FFFD, one per bad byte.
    EXPECT_EQ(StringConversion::Utf8ToNative("\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80"), L"\u0080\u0800\U00010000");
    EXPECT_EQ(StringConversion::Utf8ToNative("a\xC1\xBF"
                                             "b\xED\xA0\x80"),
              L"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(StringConversion::NativeToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");

    VStreamTextOut<wchar_t> s;
    s << true << L" " << false << L" " << static_cast<unsigned char>(200) << L" " << std::size_t{18446744073709551615u};
    EXPECT_EQ(s.str(), L"true false 200 18446744073709551615");
    for (const double d : {0.1, 1.0 / 3.0, -0.0, 5e-324, 1.7976931348623157e308}) {
        VStreamTextOut<char> t;
        t << d;
        EXPECT_EQ(Bits(std::strtod(t.str().c_str(), nullptr)), Bits(d)) << t.str();
    }
}

TEST(VelSAXWriter, WritesIndentedWellFormedDocumentsWithEscapedText) {
    VSAXDocumentWriter writer;
    {
        VSAXTagWriter root(writer, "Root");
        writer.WriteAttribute("note", "a\"b<c>&\td\ne");
        writer.StartTag("Text");
        writer.WriteText("x < y && z > w ]]> \r\n\"q\" \xC3\xA9 \xF0\x90\x80\x80");
        writer.EndTag("Text");
        writer.StartTag("Empty");
        writer.EndTag("Empty");
    }
    const std::string& xml = writer.GetDocument();
    EXPECT_EQ(xml,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<Root note=\"a&quot;b&lt;c&gt;&amp;&#9;d&#10;e\">\n"
              "  <Text>x &lt; y &amp;&amp; z &gt; w ]]&gt; &#13;\n\"q\" \xC3\xA9 \xF0\x90\x80\x80</Text>\n"
              "  <Empty/>\n"
              "</Root>\n");
    LogHandler h;  // the reader gives the text back exactly, CR included
    ASSERT_TRUE(ReadDoc(xml, h));
    EXPECT_EQ(h.log[2], "<Text:x < y && z > w ]]> \r\n\"q\" \xC3\xA9 \xF0\x90\x80\x80|Root");
}

TEST(VelSAXWriter, RefusesBadNamesBadTextAndStructuralMisuse) {
    VSAXDocumentWriter writer;
    EXPECT_THROW(writer.GetDocument(), std::logic_error);  // no root yet
    for (const char* name : {"1abc", "a b", ""}) EXPECT_THROW(writer.StartTag(name), std::invalid_argument);
    writer.StartTag("Root");
    for (const char* text : {"bad \x01 control", "bad \xFF utf8", "\xEF\xBF\xBE"})
        EXPECT_THROW(writer.WriteText(text), std::invalid_argument);
    EXPECT_THROW(writer.GetDocument(), std::logic_error);  // Root still open
    EXPECT_THROW(writer.EndTag("Other"), std::logic_error);
}

TEST(VelSAXBinary, BlocksRoundTripBitForBitAndStreamsKeepTheirOffsets) {
    // -0, a signalling NaN with payload, 0.1.
    const std::vector<std::uint64_t> bits = {0x8000000000000000ull, 0x7FF0000000000001ull, 0x3FB999999999999Aull};
    VSAXDocumentWriter writer;
    {
        VSAXTagWriter root(writer, "Root");
        for (const char* stream : {"first", "second"}) {
            VSAXBinaryBlockOut out = writer.GetBinaryStream(stream);
            for (const std::uint64_t b : bits) out.Stream() << FromBits(b);
            writer.WriteBinaryData("Data", out);
        }
        VSAXBinaryBlockOut again = writer.GetBinaryStream("first");
        again.Stream() << 1.0;
        again.Stream().Write("\x01\x02\x03\x04\x05\x06\x07\x08", 8);  // raw bytes, in order
        writer.WriteBinaryData("Data", again);
    }
    const std::string& xml = writer.GetDocument();
    EXPECT_NE(xml.find("VelSAX.stream=\"first\" VelSAX.offset=\"24\" VelSAX.size=\"16\""), std::string::npos);

    std::vector<std::vector<std::uint64_t>> blocks;
    LogHandler h;
    h.onTag = [&](const std::string& name, ISAXReader& reader) {
        if (name != "Data") return true;
        VSAXStreamBinaryIn& in = reader.GetBinaryStream();
        blocks.emplace_back();
        for (double d = 0.0; in.GetRemaining() != 0; blocks.back().push_back(Bits(d))) in >> d;
        return true;
    };
    ASSERT_TRUE(ReadDoc(xml, h));
    EXPECT_EQ(blocks, (std::vector<std::vector<std::uint64_t>>{bits, bits, {Bits(1.0), 0x0807060504030201ull}}));
}

// Handlers hear of the elements in document order with text and parent, a subtree handed to
// another handler goes there whole, and identities resolve after the whole document.
TEST(VelSAXReader, CallsHandlersInDocumentOrderAndResolvesIdentities) {
    LogHandler child, root;
    ISAXReference* found = nullptr;
    struct Resolver : LogHandler {
        ISAXReference** found = nullptr;
        void ResolveReferences(ISAXReader& reader) override { *found = reader.FindReference(42); }
    } resolver;
    resolver.found = &found;
    const std::string xml =
        "<?xml version='1.0'?><!-- c --><Root>text<Object VelSAX.oid=\"42\"><X> 1 </X></Object>"
        "\n  <Z/></Root>";
    root.onTag = [&](const std::string& name, ISAXReader& reader) {
        if (name == "Object") return reader.ReadObject(child);
        if (name == "Z") return reader.ReadObject(resolver);
        return true;
    };
    ASSERT_TRUE(ReadDoc(xml, root));
    EXPECT_EQ(root.log, (std::vector<std::string>{"defaults", "<Root:text|", "<Object:|Root", "<Z:|Root", "/Root",
                                                  "resolve", "init"}));
    EXPECT_EQ(child.log, (std::vector<std::string>{"defaults", "<Object:|Root", "<X: 1 |Object", "/X", "/Object",
                                                   "resolve", "init"}));
    EXPECT_EQ(resolver.log, (std::vector<std::string>{"defaults", "<Z:|Root", "/Z", "init"}));
    EXPECT_EQ(found, static_cast<ISAXReference*>(&child));
    EXPECT_EQ(child.GetObjectId(), 42u);
}

// The incremental reader names the identity of an open element by depth (0: the current one)
// and name; beyond the open elements, or under another name, there is none.
TEST(VelSAXReader, IncrementalIdentitiesByDepthAndName) {
    std::vector<std::uint64_t> got;
    LogHandler h;
    h.onTag = [&](const std::string& name, ISAXReader& reader) {
        const auto& inc = dynamic_cast<Incremental::ISAXIncrementalReader&>(reader);
        for (std::size_t d = 0; d < 4 && name == "B"; ++d) got.push_back(inc.GetTag(d == 1 ? "A" : "B", d).GetValue());
        return true;
    };
    VSAXIncrementalDocumentReader reader;
    ASSERT_TRUE(reader.Read("<A VelSAX.uid=\"7\"><B VelSAX.uid=\"9\"/></A>", h));
    EXPECT_EQ(got, (std::vector<std::uint64_t>{9, 7, 0, 0}));
}

// Each row: the element (its name says the type read) and the value read, empty if refused.
TEST(VelSAXReader, ParsesValuesStrictly) {
    const std::pair<const char*, const char*> cases[] = {{"<U> 4294967295\n</U>", "4294967295"},
                                                         {"<U>4294967296</U>", ""},
                                                         {"<U>-1</U>", ""},
                                                         {"<U>+1</U>", ""},
                                                         {"<U>1 2</U>", ""},
                                                         {"<U></U>", ""},
                                                         {"<U>0x10</U>", ""},
                                                         {"<U>1e3</U>", ""},
                                                         {"<C>255</C>", "255"},
                                                         {"<C>256</C>", ""},
                                                         {"<B>true</B>", "1"},
                                                         {"<B>0</B>", "0"},
                                                         {"<B>True</B>", ""},
                                                         {"<D>-0</D>", "-0"},
                                                         {"<D>1.5x</D>", ""},
                                                         {"<W>d\xC3\xA9&amp;</W>", "d\xC3\xA9&"}};
    for (const auto& [xml, expected] : cases) {
        std::string value;
        LogHandler h;
        h.onTag = [&](const std::string& name, ISAXReader& r) {
            unsigned long u = 7;
            unsigned char c = 0;
            bool b = false;
            double d = 0;
            std::wstring w;
            if (name == "U" && r.ReadValue(u)) value = std::to_string(u);
            if (name == "C" && r.ReadValue(c)) value = std::to_string(c);
            if (name == "B" && r.ReadValue(b)) value = std::to_string(b);
            if (name == "D" && r.ReadValue(d)) value = std::signbit(d) ? "-" + std::to_string(int(d)) : "+";
            if (name == "W" && r.ReadValue(w)) value = StringConversion::NativeToUtf8(w);
            return true;
        };
        EXPECT_EQ(static_cast<bool>(ReadDoc(xml, h)), *expected != 0) << xml;
        EXPECT_EQ(value, expected) << xml;
    }
}

TEST(VelSAXReader, RefusesBadDocumentsWithAClearMessage) {
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<a>";
    const struct {
        std::string xml;
        const char* expected;  // part of the message
    } cases[] = {
        {"", "XML: no element found"},
        {"<A><B></A>", "line 1, column 9: XML: mismatched tag"},
        {"<A><B/>text</A>", "element \"A\": text after child elements"},
        {"<!DOCTYPE a [<!ENTITY b \"bb\">]><a>&b;</a>", "document type declarations are not accepted"},
        {deep, "nesting deeper than 256 levels"},
        {"<A><Refuse>3</Refuse></A>", "column 4: element \"Refuse\" in \"A\": refused by its handler (text \"3\")"},
        {"<A><Number>x</Number></A>", "element \"Number\" in \"A\": text \"x\" is not an unsigned 32-bit number"},
        {"<A><Throw/></A>", "element \"Throw\" in \"A\": exception from its handler: boom"},
        {"<A><Data VelSAX.size=\"3\">Zm9v!</Data></A>", "binary block is not valid base64"},
        {"<A><Data VelSAX.size=\"4\">Zm9v</Data></A>", "holds 3 bytes but VelSAX.size says 4"},
        {"<A><Data>Zm9v</Data></A>", "binary block without VelSAX.size"},
        {"<A><Data VelSAX.size=\"3\">Zm9v</Data><Over/></A>", "holds 3 bytes but 16 were asked for"},
        {"<A><Data VelSAX.size=\"12\">AAAAAAAAAAAAAAAA</Data></A>", "holds 12 bytes but only 8 were read"},
        {"<A VelSAX.uid=\"0\"/>", "VelSAX.uid \"0\" is not an identity"},
    };
    for (const auto& c : cases) {
        LogHandler h;
        h.onTag = [](const std::string& name, ISAXReader& reader) {
            unsigned long v = 0;
            if (name == "Number") reader.ReadValue(v);
            if (name == "Throw") throw std::runtime_error("boom");
            if (name == "Data") {
                VSAXStreamBinaryIn& in = reader.GetBinaryStream();
                double d = 0;
                in >> d;
                if (in.GetSize() == 3) in >> d;
            }
            return name != "Refuse";
        };
        const VSAXReadResult r = ReadDoc(c.xml, h);
        EXPECT_FALSE(r.ok) << c.xml.substr(0, 60);
        EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
        EXPECT_GT(r.line, 0u) << r.message;
        for (const std::string& entry : h.log) EXPECT_NE(entry, "resolve");  // no resolution after a failure
    }
}
