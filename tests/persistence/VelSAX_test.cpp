// The VelSAX document framework: base64, text conversion and formatting, the XML writer
// and reader, binary blocks, incremental saving, and refusal of bad documents.
#include <VelSDK/StringConversion.h>
#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VSAXIncrementalDocumentReader.h>
#include <VelSDK/VSAXIncrementalDocumentWriter.h>
#include <VelSDK/VStreamTextOut.h>
#include <VelSDK/VelSAX.h>

#include "persistence/Base64.h"
#include "persistence/CurveFixtures.h"
#include "persistence/PersistenceTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
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
    int defaults = 0;
    void SetDefaults() override { ++defaults; }
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

// --- Base64 -----------------------------------------------------------------------------------

TEST(VelSAXBase64, MatchesTheStandardVectorsAndRoundTripsEveryLength) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        std::string out;
        detail::Base64Encode(plain[i], out, "");
        EXPECT_EQ(out, coded[i]);
    }
    std::mt19937 rng(7);
    for (std::size_t n = 0; n < 200; ++n) {
        std::string data(n, '\0');
        for (char& c : data) c = static_cast<char>(rng());
        std::string text;
        detail::Base64Encode(data, text, "\n  ");
        std::vector<unsigned char> back;
        std::string error;
        ASSERT_TRUE(detail::Base64Decode(text, back, error)) << error;
        ASSERT_EQ(std::string(back.begin(), back.end()), data);
        if (n > 57) {
            EXPECT_NE(text.find("\n  ", 1), std::string::npos);  // lines of 76 characters
        }
    }
}

TEST(VelSAXBase64, RefusesNonCanonicalText) {
    std::vector<unsigned char> out;
    std::string error;
    EXPECT_TRUE(detail::Base64Decode(" Zm9v\r\n\tYg== ", out, error));
    for (const char* bad : {"Zm9", "Zm9vY", "Zm=v", "Z===", "Zg==Zg==", "Zh==", "Zm9=", "Zm9v!A==", "=Zg="}) {
        EXPECT_FALSE(detail::Base64Decode(bad, out, error)) << bad;
        EXPECT_TRUE(out.empty());
    }
}

// --- Text -------------------------------------------------------------------------------------

TEST(VelSAXText, WideAndUtf8RoundTrip) {
    const std::wstring wide = L"double \u00e9\u4e2d\U0001F600";
    const std::string utf8 = StringConversion::NativeToUtf8(wide);
    EXPECT_EQ(utf8, "double \xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(StringConversion::Utf8ToNative(utf8), wide);
    // The smallest code point of each length is not overlong; one below it is.
    EXPECT_EQ(StringConversion::Utf8ToNative("\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80"), L"\u0080\u0800\U00010000");
    EXPECT_EQ(StringConversion::Utf8ToNative("\xC1\xBF"), L"\uFFFD\uFFFD");
    // Bad UTF-8 becomes U+FFFD, one per bad byte; an overlong '/' and a surrogate are bad.
    EXPECT_EQ(StringConversion::Utf8ToNative("a\xC0\xAF"
                                             "b\xED\xA0\x80"),
              L"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD");
    std::wstring lone;
    lone.push_back(static_cast<wchar_t>(0xD800));
    EXPECT_EQ(StringConversion::NativeToUtf8(lone), "\xEF\xBF\xBD");
}

TEST(VelSAXText, TextStreamFormatsBoolsIntegersAndShortestDoubles) {
    VStreamTextOut<wchar_t> s;
    s << true << L" " << false << L" " << static_cast<unsigned char>(200) << L" " << std::size_t{18446744073709551615u};
    EXPECT_EQ(s.str(), L"true false 200 18446744073709551615");
    for (const double d : {0.1, 1.0 / 3.0, -0.0, 5e-324, 1.7976931348623157e308}) {
        VStreamTextOut<char> t;
        t << d;
        EXPECT_EQ(Bits(std::strtod(t.str().c_str(), nullptr)), Bits(d)) << t.str();
    }
}

// --- Writer -----------------------------------------------------------------------------------

TEST(VelSAXWriter, WritesIndentedWellFormedDocumentsWithEscapedText) {
    VSAXDocumentWriter writer;
    {
        VSAXTagWriter root(writer, "Root");
        writer.WriteAttribute("note", "a\"b<c>&\td\ne");
        writer.StartTag("Text");
        writer.WriteText("x < y && z > w ]]> \r\n\"q\" \xC3\xA9");
        writer.EndTag("Text");
        writer.StartTag("Empty");
        writer.EndTag("Empty");
    }
    const std::string& xml = writer.GetDocument();
    EXPECT_EQ(xml,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<Root note=\"a&quot;b&lt;c&gt;&amp;&#9;d&#10;e\">\n"
              "  <Text>x &lt; y &amp;&amp; z &gt; w ]]&gt; &#13;\n\"q\" \xC3\xA9</Text>\n"
              "  <Empty/>\n"
              "</Root>\n");
    EXPECT_TRUE(test::XmlLintAccepts(xml));

    // The reader gives the text back exactly, CR included.
    LogHandler h;
    ASSERT_TRUE(ReadDoc(xml, h));
    EXPECT_EQ(h.log[1], "<Text:x < y && z > w ]]> \r\n\"q\" \xC3\xA9|Root");
}

TEST(VelSAXWriter, RefusesBadNamesBadTextAndStructuralMisuse) {
    VSAXDocumentWriter writer;
    EXPECT_THROW(writer.GetDocument(), std::logic_error);  // no root yet
    EXPECT_THROW(writer.StartTag("1abc"), std::invalid_argument);
    EXPECT_THROW(writer.StartTag("a b"), std::invalid_argument);
    EXPECT_THROW(writer.StartTag(""), std::invalid_argument);
    writer.StartTag("Root");
    EXPECT_THROW(writer.WriteText("bad \x01 control"), std::invalid_argument);
    EXPECT_THROW(writer.WriteText("bad \xFF utf8"), std::invalid_argument);
    EXPECT_THROW(writer.WriteText("\xEF\xBF\xBE"), std::invalid_argument);  // U+FFFE
    EXPECT_THROW(writer.GetDocument(), std::logic_error);                   // Root still open
    writer.EndTag("Root");
    EXPECT_EQ(writer.GetDocument(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root/>\n");
    EXPECT_THROW(writer.StartTag("Second"), std::logic_error);  // one root only
    EXPECT_THROW(writer.GetDocument(), std::logic_error);       // and the writer is broken now

    VSAXDocumentWriter other;
    other.StartTag("A");
    EXPECT_THROW(other.EndTag("B"), std::logic_error);
}

// --- Binary blocks ------------------------------------------------------------------------------

TEST(VelSAXBinary, BlocksRoundTripBitForBitAndStreamsKeepTheirOffsets) {
    const std::vector<std::uint64_t> bits = {
        0x8000000000000000ull,  // -0.0
        0x0000000000000001ull,  // smallest subnormal
        0x000FFFFFFFFFFFFFull,  // largest subnormal
        0x7FF0000000000000ull,  // +inf
        0xFFF0000000000000ull,  // -inf
        0x7FF8000000000001ull,  // quiet NaN with payload
        0x7FF0000000000001ull,  // signalling NaN with payload
        0xFFFFFFFFFFFFFFFFull,  // negative NaN, all payload bits
        0x3FB999999999999Aull,  // 0.1
    };
    VSAXDocumentWriter writer;
    {
        VSAXTagWriter root(writer, "Root");
        for (int block = 0; block < 2; ++block) {
            VSAXBinaryBlockOut out = writer.GetBinaryStream(block == 0 ? "first" : "second");
            for (const std::uint64_t b : bits) out.Stream() << FromBits(b);
            writer.WriteBinaryData("Data", out);
        }
        VSAXBinaryBlockOut again = writer.GetBinaryStream("first");
        EXPECT_EQ(again.GetOffset(), 8 * bits.size());
        again.Stream() << 1.0;
        writer.WriteBinaryData("Data", again);
    }
    const std::string& xml = writer.GetDocument();
    EXPECT_TRUE(test::XmlLintAccepts(xml));
    EXPECT_NE(xml.find("VelSAX.stream=\"first\" VelSAX.offset=\"72\" VelSAX.size=\"8\""), std::string::npos);

    std::vector<std::vector<std::uint64_t>> blocks;
    LogHandler h;
    h.onTag = [&](const std::string& name, ISAXReader& reader) {
        if (name != "Data") return true;
        VSAXStreamBinaryIn& in = reader.GetBinaryStream();
        blocks.emplace_back();
        while (in.GetRemaining() != 0) {
            double d = 0.0;
            in >> d;
            blocks.back().push_back(Bits(d));
        }
        return true;
    };
    ASSERT_TRUE(ReadDoc(xml, h));
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], bits);
    EXPECT_EQ(blocks[1], bits);
    EXPECT_EQ(blocks[2], std::vector<std::uint64_t>{Bits(1.0)});
}

// --- Reader -----------------------------------------------------------------------------------

TEST(VelSAXReader, CallsHandlersInDocumentOrderWithTextAndParents) {
    const std::string xml = "<?xml version='1.0'?><!-- c --><A>text of A<B> b </B><C><D>4</D></C>\n  <E/></A>";
    LogHandler h;
    const VSAXReadResult r = ReadDoc(xml, h);
    ASSERT_TRUE(r) << r.message;
    const std::vector<std::string> expected = {"<A:text of A|", "<B: b |A", "/B", "<C:|A",   "<D:4|C", "/D", "/C",
                                               "<E:|A",         "/E",       "/A", "resolve", "init"};
    EXPECT_EQ(h.log, expected);
    EXPECT_EQ(h.defaults, 1);
}

TEST(VelSAXReader, ParsesValuesStrictly) {
    struct Case {
        const char* text;
        bool ok;
    };
    auto run = [](const std::string& text, const std::function<bool(ISAXReader&)>& read) {
        LogHandler h;
        bool result = false;
        h.onTag = [&](const std::string&, ISAXReader& reader) {
            result = read(reader);
            return true;
        };
        const bool ok = static_cast<bool>(ReadDoc("<V>" + text + "</V>", h));
        EXPECT_EQ(ok, result) << text;
        return result;
    };
    unsigned long ul = 7;
    EXPECT_TRUE(run(" 4294967295\n", [&](ISAXReader& r) { return r.ReadValue(ul); }));
    EXPECT_EQ(ul, 4294967295ul);
    for (const char* bad : {"4294967296", "-1", "+1", "1 2", "", "0x10", "1e3"}) {
        ul = 7;
        EXPECT_FALSE(run(bad, [&](ISAXReader& r) { return r.ReadValue(ul); })) << bad;
        EXPECT_EQ(ul, 7ul);
    }
    unsigned char uc = 9;
    EXPECT_TRUE(run("255", [&](ISAXReader& r) { return r.ReadValue(uc); }));
    EXPECT_EQ(uc, 255);
    EXPECT_FALSE(run("256", [&](ISAXReader& r) { return r.ReadValue(uc); }));
    bool b = false;
    EXPECT_TRUE(run("true", [&](ISAXReader& r) { return r.ReadValue(b); }));
    EXPECT_TRUE(b);
    EXPECT_TRUE(run("0", [&](ISAXReader& r) { return r.ReadValue(b); }));
    EXPECT_FALSE(b);
    EXPECT_FALSE(run("True", [&](ISAXReader& r) { return r.ReadValue(b); }));
    double d = 0;
    EXPECT_TRUE(run("-0", [&](ISAXReader& r) { return r.ReadValue(d); }));
    EXPECT_TRUE(std::signbit(d));
    EXPECT_FALSE(run("1.5x", [&](ISAXReader& r) { return r.ReadValue(d); }));
    std::wstring w;
    EXPECT_TRUE(run("d\xC3\xA9&amp;", [&](ISAXReader& r) { return r.ReadValue(w); }));
    EXPECT_EQ(w, L"d\u00e9&");
}

TEST(VelSAXReader, HandsSubtreesToOtherHandlersAndResolvesIdentities) {
    LogHandler child;
    LogHandler root;
    root.onTag = [&](const std::string& name, ISAXReader& reader) {
        if (name == "Object") return reader.ReadObject(child);
        return true;
    };
    ISAXReference* found = nullptr;
    struct Resolver : LogHandler {
        ISAXReference** found = nullptr;
        void ResolveReferences(ISAXReader& reader) override { *found = reader.FindReference(42); }
    } resolver;
    resolver.found = &found;
    child.onTag = [&](const std::string& name, ISAXReader& reader) {
        if (name == "Inner") return reader.ReadObject(resolver);
        return true;
    };
    const std::string xml = "<Root><Object VelSAX.oid=\"42\"><X>1</X><Inner><Y/></Inner></Object><Z/></Root>";
    ASSERT_TRUE(ReadDoc(xml, root));
    EXPECT_EQ(root.log,
              (std::vector<std::string>{"<Root:|", "<Object:|Root", "<Z:|Root", "/Z", "/Root", "resolve", "init"}));
    EXPECT_EQ(child.log, (std::vector<std::string>{"<Object:|Root", "<X:1|Object", "/X", "<Inner:|Object", "/Object",
                                                   "resolve", "init"}));
    EXPECT_EQ(resolver.log, (std::vector<std::string>{"<Inner:|Object", "<Y:|Inner", "/Y", "/Inner", "init"}));
    EXPECT_EQ(found, static_cast<ISAXReference*>(&child));
    EXPECT_EQ(child.GetObjectId(), 42u);
}

TEST(VelSAXReader, RefusesBadDocumentsWithAClearMessage) {
    struct Case {
        std::string xml;
        const char* expected;  // part of the message
    };
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
        "\"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]><lolz>&lol2;</lolz>";
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<a>";
    for (int i = 0; i < 300; ++i) deep += "</a>";
    const std::vector<Case> cases = {
        {"", "XML: no element found"},
        {"<A><B></A>", "XML: mismatched tag"},
        {"<A>&undefined;</A>", "XML: undefined entity"},
        {"<A><B/>text</A>", "element \"A\": text after child elements"},
        {laughs, "document type declarations are not accepted"},
        {"<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>", "document type declarations are not accepted"},
        {deep, "nesting deeper than 256 levels"},
        {"<A><Refuse>3</Refuse></A>", "element \"Refuse\" in \"A\": refused by its handler (text \"3\")"},
        {"<A><Number>x</Number></A>", "element \"Number\" in \"A\": text \"x\" is not an unsigned 32-bit number"},
        {"<A><Data VelSAX.size=\"3\">Zm9v!</Data></A>", "binary block is not valid base64"},
        {"<A><Data VelSAX.size=\"4\">Zm9v</Data></A>", "holds 3 bytes but VelSAX.size says 4"},
        {"<A><Data>Zm9v</Data></A>", "binary block without VelSAX.size"},
        {"<A><Data VelSAX.size=\"3\">Zm9v</Data><Over/></A>", "holds 3 bytes but 16 were asked for"},
        {"<A><Data VelSAX.size=\"12\">AAAAAAAAAAAAAAAA</Data></A>", "holds 12 bytes but only 8 were read"},
        {"<A><Throw/></A>", "element \"Throw\" in \"A\": exception from its handler: boom"},
        {"<A VelSAX.uid=\"0\"/>", "VelSAX.uid \"0\" is not an identity"},
        {"<A>\xFF</A>", "XML: not well-formed"},
    };
    for (const Case& c : cases) {
        LogHandler h;
        h.onTag = [](const std::string& name, ISAXReader& reader) {
            if (name == "Refuse") return false;
            if (name == "Number") {
                unsigned long v = 0;
                reader.ReadValue(v);
            }
            if (name == "Throw") throw std::runtime_error("boom");
            if (name == "Data") {
                VSAXStreamBinaryIn& in = reader.GetBinaryStream();
                double d = 0;
                in >> d;
                if (reader.ParentTagName(0) == "Data" && in.GetSize() == 3) in >> d;
            }
            return true;
        };
        const VSAXReadResult r = ReadDoc(c.xml, h);
        EXPECT_FALSE(r.ok) << c.xml.substr(0, 60);
        EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
        EXPECT_GT(r.line, 0u) << r.message;
        // After a failure the handlers hear of no resolution step.
        for (const std::string& entry : h.log) EXPECT_NE(entry, "resolve");
    }
}

// --- Incremental saving -------------------------------------------------------------------------

TEST(VelSAXIncremental, CarriesUnchangedElementsOverAndKeepsIdentitiesUnique) {
    auto writeItem = [](VSAXIncrementalDocumentWriter& writer, Incremental::TagUniqueID& tag, const char* value) {
        if (tag.IsInitialized() && writer.IsUpToDate(tag)) return;
        VSAXTagWriter item(writer, "Item");
        tag = writer.GetCurrentTag();
        writer.StartTag("Value");
        writer.WriteText(value);
        writer.EndTag("Value");
    };
    Incremental::TagUniqueID a, b;
    VSAXIncrementalDocumentWriter first;
    {
        VSAXTagWriter root(first, "Root");
        writeItem(first, a, "a1");
        writeItem(first, b, "b1");
    }
    const std::string doc1 = first.GetDocument();
    EXPECT_EQ(a.GetValue(), 1u);
    EXPECT_EQ(b.GetValue(), 2u);

    // Second save: a is unchanged, b changed.
    VSAXIncrementalDocumentWriter second;
    ASSERT_TRUE(second.LoadPrevious(doc1));
    second.SetUnchanged(a);
    const Incremental::TagUniqueID aBefore = a;
    {
        VSAXTagWriter root(second, "Root");
        writeItem(second, a, "a2 (not written)");
        writeItem(second, b, "b2");
        EXPECT_FALSE(second.IsUpToDate(aBefore));  // carried once only
    }
    const std::string doc2 = second.GetDocument();
    EXPECT_EQ(a, aBefore);
    EXPECT_EQ(b.GetValue(), 3u);
    EXPECT_TRUE(test::XmlLintAccepts(doc2));
    EXPECT_NE(doc2.find("<Item VelSAX.uid=\"1\">\n    <Value>a1</Value>\n  </Item>"), std::string::npos) << doc2;
    EXPECT_EQ(doc2.find("a2"), std::string::npos);
    EXPECT_NE(doc2.find("<Value>b2</Value>"), std::string::npos);

    // The reader reports the identities.
    std::vector<std::uint64_t> ids;
    LogHandler h;
    VSAXIncrementalDocumentReader reader;
    h.onTag = [&](const std::string& name, ISAXReader&) {
        if (name == "Item") ids.push_back(reader.GetTag("Item", 0).GetValue());
        if (name == "Value") ids.push_back(reader.GetTag("Item", 1).GetValue() + 100);
        return true;
    };
    ASSERT_TRUE(reader.Read(doc2, h));
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{1, 101, 3, 103}));

    // An identity must be asked right after opening an element.
    VSAXIncrementalDocumentWriter third;
    third.StartTag("Root");
    third.WriteText("x");
    EXPECT_THROW(third.GetCurrentTag(), std::logic_error);
}

TEST(VelSAXIncremental, PreviousDocumentsWithRepeatedIdentitiesAreRefused) {
    VSAXIncrementalDocumentWriter writer;
    const VSAXReadResult r = writer.LoadPrevious("<R><A VelSAX.uid=\"5\"/><B VelSAX.uid=\"5\"/></R>");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("identity 5 appears twice"), std::string::npos) << r.message;
    EXPECT_FALSE(writer.LoadPrevious("<R>").ok);

    // An empty-element tag with an identity is carried over whole.
    ASSERT_TRUE(writer.LoadPrevious("<R><A VelSAX.uid=\"7\" x=\"1\"/></R>").ok);
    writer.SetUnchanged(Incremental::TagUniqueID(7));
    writer.StartTag("R");
    EXPECT_EQ(writer.GetCurrentTag().GetValue(), 8u);  // above every identity of the previous document
    EXPECT_TRUE(writer.IsUpToDate(Incremental::TagUniqueID(7)));
    writer.EndTag("R");
    EXPECT_EQ(
        writer.GetDocument(),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R VelSAX.uid=\"8\">\n  <A VelSAX.uid=\"7\" x=\"1\"/>\n</R>\n");
}
