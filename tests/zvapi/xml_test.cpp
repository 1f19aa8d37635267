// XML documents: reading, writing, items, numbers and refused input.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/fault_loop.hpp"
#include "support/temp_space.hpp"
#include "support/xml_document.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using zvtest::TempFileSpace;

using Doc = zvtest::XmlDocument;

std::string Name(const Doc& doc, zvXmlItem item) { return doc.Name(item); }

std::vector<std::string> ChildNames(const Doc& doc, zvXmlItem parent) { return doc.ChildNames(parent); }

TEST(XmlNumbers, IntegersTakeTheLeadingIntegerPartAndClamp) {
    zv::testing::Scope scope;
    struct Case {
        const char* text;
        int32_t value;
    };
    for (Case c : {Case{"7500.000000", 7500}, Case{"-7500.5", -7500}, Case{"", 0}, Case{"abc", 0}, Case{" 42 ", 42},
                   Case{"+9", 9}, Case{"99999999999", INT32_MAX}, Case{"-99999999999", INT32_MIN}, Case{"12abc", 12}}) {
        SCOPED_TRACE(c.text);
        const std::string text = std::string("<r><v>") + c.text + "</v></r>";
        Doc doc(text.c_str());
        int32_t value = -1;
        ASSERT_EQ(zvXMLGetChildInt(doc, doc.Root(), "v", &value), ZV_OK);
        EXPECT_EQ(value, c.value);
        value = -1;
        ASSERT_EQ(zvXMLGetItemInt(doc, doc.Find("v"), &value), ZV_OK);
        EXPECT_EQ(value, c.value);
    }
}

TEST(XmlNumbers, FloatsWriteExactlyTheDecimalsAskedAndReadBack) {
    zv::testing::Scope scope;
    Doc doc("<r/>");
    const zvXmlItem root = doc.Root();
    ASSERT_EQ(zvXMLSetChildFloat(doc, root, "X", 0.5, 6), ZV_OK);
    ASSERT_EQ(zvXMLSetChildFloat(doc, root, "Y", -7500, 0), ZV_OK);
    ASSERT_EQ(zvXMLSetChildFloat(doc, root, "Z", 0.0, 1), ZV_OK);
    char text[64];
    ASSERT_EQ(zvXMLGetChildString(doc, root, "X", text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "0.500000");
    ASSERT_EQ(zvXMLGetChildString(doc, root, "Y", text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "-7500");
    ASSERT_EQ(zvXMLGetChildString(doc, root, "Z", text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "0.0");
    EXPECT_EQ(zvXMLSetChildFloat(doc, root, "X", 1.0, 18), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLSetChildFloat(doc, root, "X", 1.0, -1), ZV_E_ARGUMENT);

    // Calibration values, written with 15 decimals or more, read back as
    // the very same double: the shortest text that does.
    for (double v : {0.123456789012345, -0.000123456789012, 3.141592653589793, -1.5707963267949, 12.5,
                     0.12345678901234568, -1e-300, 5e-324, 1e300, 1.0 / 3.0, -0.0, 2.0 / 3.0 * 1e-20}) {
        SCOPED_TRACE(v);
        for (int32_t decimals : {15, 17}) {
            ASSERT_EQ(zvXMLSetChildFloat(doc, root, "T", v, decimals), ZV_OK);
            Doc reread(doc.Flat().c_str());
            double back = 1;
            ASSERT_EQ(zvXMLGetChildFloat(reread, reread.Root(), "T", &back), ZV_OK);
            EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << back;
        }
    }
    ASSERT_EQ(zvXMLSetChildFloat(doc, root, "T", 0.1, 15), ZV_OK);
    ASSERT_EQ(zvXMLGetChildString(doc, root, "T", text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "0.1");
    ASSERT_EQ(zvXMLSetChildInt(doc, root, "N", -42), ZV_OK);
    ASSERT_EQ(zvXMLGetChildString(doc, root, "N", text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "-42");
    double tiny = 1;
    Doc extremes("<r><a>1e-999</a><b>-1e999</b></r>");
    ASSERT_EQ(zvXMLGetChildFloat(extremes, extremes.Root(), "a", &tiny), ZV_OK);
    EXPECT_EQ(tiny, 0.0);
    ASSERT_EQ(zvXMLGetChildFloat(extremes, extremes.Root(), "b", &tiny), ZV_OK);
    EXPECT_LT(tiny, -1e308);
}

TEST(XmlItems, MissingChildrenReadAsZeroAndSetChildAppendsThemLast) {
    zv::testing::Scope scope;
    Doc doc("<r><a>1</a><b>2</b></r>");
    const zvXmlItem root = doc.Root();
    int32_t i = -1;
    double f = -1;
    char s[8] = "x";
    EXPECT_EQ(zvXMLGetChildInt(doc, root, "missing", &i), ZV_OK);
    EXPECT_EQ(zvXMLGetChildFloat(doc, root, "missing", &f), ZV_OK);
    EXPECT_EQ(zvXMLGetChildString(doc, root, "missing", s, sizeof s), ZV_OK);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(f, 0.0);
    EXPECT_STREQ(s, "");
    EXPECT_EQ(zvXmlChildText(doc, root, "missing", s, sizeof s), ZV_E_NOTFOUND);
    EXPECT_EQ(zvXMLGetChildInt(doc, root, "A", &i), ZV_OK);  // case-sensitive
    EXPECT_EQ(i, 0);

    ASSERT_EQ(zvXMLSetChildInt(doc, root, "a", 5), ZV_OK);
    ASSERT_EQ(zvXMLSetChildInt(doc, root, "c", 3), ZV_OK);
    EXPECT_EQ(ChildNames(doc, root), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(zvXMLGetChildInt(doc, root, "a", &i), ZV_OK);
    EXPECT_EQ(i, 5);
    EXPECT_EQ(zvXMLSetChildInt(doc, root, "bad name", 1), ZV_E_ARGUMENT);
}

TEST(XmlItems, CreateAtFirstOrLastAndDeleteWholeBranches) {
    zv::testing::Scope scope;
    Doc doc;
    zvXmlItem root = 0;
    ASSERT_EQ(zvXMLCreateItem(doc, ZV_XML_DOCUMENT, ZV_XML_LAST, "SensorGroup", "", &root), ZV_OK);
    zvXmlItem second = 0;
    EXPECT_EQ(zvXMLCreateItem(doc, ZV_XML_DOCUMENT, ZV_XML_LAST, "Other", "", &second), ZV_E_STATE);
    zvXmlItem item = 0;
    ASSERT_EQ(zvXMLCreateItem(doc, root, ZV_XML_LAST, "Middle", nullptr, &item), ZV_OK);
    ASSERT_EQ(zvXMLCreateItem(doc, root, ZV_XML_LAST, "Last", "tail", &item), ZV_OK);
    ASSERT_EQ(zvXMLCreateItem(doc, root, ZV_XML_FIRST, "First", "head", &item), ZV_OK);
    EXPECT_EQ(ChildNames(doc, root), (std::vector<std::string>{"First", "Middle", "Last"}));
    EXPECT_EQ(zvXMLCreateItem(doc, root, 2, "Bad", "", &item), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLCreateItem(doc, root, ZV_XML_LAST, "1bad", "", &item), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLCreateItem(doc, root, ZV_XML_LAST, "", "", &item), ZV_E_ARGUMENT);

    // Text a document cannot carry is refused rather than written unreadable.
    EXPECT_EQ(zvXMLCreateItem(doc, root, ZV_XML_LAST, "Bell", "\x07", &item), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLSetItemString(doc, root, "a\x01b"), ZV_E_ARGUMENT);
    EXPECT_EQ(ChildNames(doc, root), (std::vector<std::string>{"First", "Middle", "Last"}));

    zvXmlItem middle = doc.Find("Middle");
    zvXmlItem inner = 0;
    ASSERT_EQ(zvXMLCreateItem(doc, middle, ZV_XML_LAST, "Inner", "x", &inner), ZV_OK);
    ASSERT_EQ(zvXMLDeleteItem(doc, middle), ZV_OK);
    EXPECT_EQ(ChildNames(doc, root), (std::vector<std::string>{"First", "Last"}));
    // Items of the deleted branch are stale now.
    char name[16];
    EXPECT_EQ(zvXMLGetItemName(doc, middle, name, sizeof name), ZV_E_HANDLE);
    EXPECT_EQ(zvXMLGetItemName(doc, inner, name, sizeof name), ZV_E_HANDLE);
    EXPECT_EQ(zvXMLDeleteItem(doc, middle), ZV_E_HANDLE);
    EXPECT_EQ(zvXMLDeleteItem(doc, ZV_XML_DOCUMENT), ZV_E_ARGUMENT);
    ASSERT_EQ(zvXMLDeleteItem(doc, root), ZV_OK);
    EXPECT_EQ(doc.Root(), 0u);
}

TEST(XmlItems, StaleForeignAndMadeUpItemsAreRefused) {
    zv::testing::Scope scope;
    Doc doc("<r><a/></r>");
    Doc other("<r><a/></r>");
    const zvXmlItem a = doc.Find("a");
    char name[8];
    int32_t v;
    EXPECT_EQ(zvXMLGetItemName(other, a, name, sizeof name), ZV_E_HANDLE);
    EXPECT_EQ(zvXMLGetItemInt(doc, 0, &v), ZV_E_HANDLE);
    EXPECT_EQ(zvXMLGetItemInt(doc, 0x12345678, &v), ZV_E_HANDLE);
    EXPECT_EQ(zvXMLGetItemInt(doc, a + 8, &v), ZV_E_HANDLE);
    ASSERT_EQ(zvXMLUnflatten(doc, "<s><b/></s>"), ZV_OK);
    EXPECT_EQ(zvXMLGetItemName(doc, a, name, sizeof name), ZV_E_HANDLE);
    ASSERT_EQ(zvXMLInit(doc, 0), ZV_OK);
    EXPECT_EQ(doc.Root(), 0u);

    zvHandle raw = nullptr;
    ASSERT_EQ(zvXMLCreate(&raw, nullptr), ZV_OK);
    zvXmlItem root = 5;
    EXPECT_EQ(zvXMLGetRoot(raw, &root), ZV_E_STATE);  // before Init
    EXPECT_EQ(root, 0u);
    EXPECT_EQ(zvXMLInit(raw, 7), ZV_E_UNSUPPORTED);
    zvXMLDestroy(raw);
}

TEST(XmlItems, NamesAreShortenedToTheBufferGiven) {
    zv::testing::Scope scope;
    Doc doc("<r><IoStateOutputEnable>1</IoStateOutputEnable><Name>Sensor A</Name></r>");
    const zvXmlItem item = doc.Find("IoStateOutputEnable");
    char name[32];
    std::memset(name, '#', sizeof name);
    ASSERT_EQ(zvXMLGetItemName(doc, item, name, 3), ZV_OK);
    EXPECT_STREQ(name, "Io");
    EXPECT_EQ(name[3], '#');  // nothing written past the buffer
    ASSERT_EQ(zvXMLGetItemName(doc, item, name, 1), ZV_OK);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(zvXMLGetItemName(doc, item, name, 0), ZV_E_ARGUMENT);
    ASSERT_EQ(zvXMLGetChildString(doc, doc.Root(), "Name", name, 7), ZV_OK);
    EXPECT_STREQ(name, "Sensor");
    EXPECT_EQ(zvXmlChildText(doc, doc.Root(), "Name", name, 8), ZV_E_RANGE);
    ASSERT_EQ(zvXmlChildText(doc, doc.Root(), "Name", name, 9), ZV_OK);
    EXPECT_STREQ(name, "Sensor A");
}

TEST(XmlItems, BranchPathsWalkChildrenOrSearchDepthFirst) {
    zv::testing::Scope scope;
    Doc doc(
        "<r><Members><SensorGroup><Name>0</Name><Members><Sensor><Name>A</Name></Sensor></Members></SensorGroup>"
        "</Members><Web><SyncResolution><Time>3</Time></SyncResolution></Web></r>");
    EXPECT_EQ(Name(doc, doc.Find("Members/SensorGroup\\Members")), "Members");
    EXPECT_NE(doc.Find("\\Web\\SyncResolution\\"), 0u);
    EXPECT_EQ(doc.Find("Sensor"), 0u);  // not a direct child
    EXPECT_EQ(doc.Find("Web/Time"), 0u);
    const zvXmlItem sensor = doc.Find("Sensor", 0);
    ASSERT_NE(sensor, 0u);
    EXPECT_EQ(ChildNames(doc, sensor), std::vector<std::string>{"Name"});
    // Depth first: the first "Name" under the root is the group's, and a
    // first name whose rest does not follow is passed over.
    char text[8];
    ASSERT_EQ(zvXMLGetItemString(doc, doc.Find("Name", 0), text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "0");
    EXPECT_NE(doc.Find("Members/Sensor", 0), 0u);
    EXPECT_NE(doc.Find("r", 0, ZV_XML_DOCUMENT), 0u);
    zvXmlItem item = 7;
    EXPECT_EQ(zvXMLFindBranchItem(doc, doc.Root(), "", 1, &item), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLFindBranchItem(doc, doc.Root(), "Web", 2, &item), ZV_E_ARGUMENT);
    EXPECT_EQ(item, 0u);
}

TEST(XmlText, MalformedTruncatedDeepOrHugeTextIsRefused) {
    zv::testing::Scope scope;
    std::string deep;
    for (int i = 0; i < 257; ++i) deep += "<a>";
    for (int i = 0; i < 257; ++i) deep += "</a>";
    std::string deepest;
    for (int i = 0; i < 200000; ++i) deepest += "<a>";
    for (const std::string& text : std::vector<std::string>{
             "", "   ", "<r>", "<r><a></a>", "<r></s>", "<r a='1></r>", "<r/><s/>", "<r/>text", "text<r/>",
             "<r/><?xml version=\"1.0\"?>", "<r a='1' a='2'/>", "<r>&bogus;</r>", "<r>&amp</r>", "<r>&#0;</r>",
             "<r a='&#xD800;'/>", "<r a='<'/>", "<r>\x01</r>", "<?xml version=\"1.0\"?>", "<1r/>", "<r><![CDATA[x</r>",
             // a declaration closed by "/>": what follows is content, checked as such
             "<?xml version=\"1.0\"/><r>\x07 ?></r>", "<?XML version=\"1.0\"/><r>&bogus; ?></r>", deep, deepest}) {
        SCOPED_TRACE(text.substr(0, 40));
        Doc doc("<kept/>");
        EXPECT_EQ(zvXMLUnflatten(doc, text.c_str()), ZV_E_PARSE);
        EXPECT_EQ(doc.Root(), 0u);  // the document is left empty
    }
    std::string deepest256;
    for (int i = 0; i < 256; ++i) deepest256 += "<a>";
    for (int i = 0; i < 256; ++i) deepest256 += "</a>";
    Doc ok(deepest256.c_str());
    EXPECT_NE(ok.Root(), 0u);
    // An instruction whose target only begins with "xml" is skipped whole.
    Doc instruction("<?xml-stylesheet href='a.css'?><r/>");
    EXPECT_NE(instruction.Root(), 0u);
    // Entities inside comments and CDATA are literal text, not references.
    Doc literal("<r><!-- a & b --><c><![CDATA[x & y]]></c><d>&lt;&#65;&#x42;</d></r>");
    char text[16];
    ASSERT_EQ(zvXMLGetChildString(literal, literal.Root(), "d", text, sizeof text), ZV_OK);
    EXPECT_STREQ(text, "<AB");

    std::string huge = "<r>" + std::string((64 << 20) + 1, 'x') + "</r>";
    Doc doc;
    EXPECT_EQ(zvXMLUnflatten(doc, huge.c_str()), ZV_E_PARSE);
}

// Text a standard reader would refuse is refused, never stored: bytes that
// are not UTF-8 unless the document declares ISO-8859-1.
TEST(XmlText, OnlyUtf8OrDeclaredLatin1TextIsReadAndOnlyUtf8Written) {
    zv::testing::Scope scope;
    struct Case {
        const char* what;
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {"two-byte", "<r>caf\xC3\xA9</r>", true},
        {"three-byte", "<r>\xE2\x82\xAC</r>", true},
        {"four-byte", "<r a='\xF0\x9D\x84\x9E'/>", true},
        {"name", "<caf\xC3\xA9/>", true},
        {"lone continuation", "<r>\x80</r>", false},
        {"cut short", "<r>\xC3</r>", false},
        {"overlong", "<r>\xC0\xAF</r>", false},
        {"surrogate", "<r>\xED\xA0\x80</r>", false},
        {"not a character", "<r>\xEF\xBF\xBE</r>", false},
        {"past U+10FFFF", "<r>\xF4\x90\x80\x80</r>", false},
        {"in an attribute", "<r a='\xFF'/>", false},
        {"in a name", "<r\xE9/>", false},
        {"in a comment", "<r><!-- \xE9 --></r>", false},
        {"Windows-1252 declared", "<?xml version='1.0' encoding='windows-1252'?><r>\xE9</r>", false},
        {"ISO-8859-1 declared", "<?xml version='1.0' encoding='ISO-8859-1'?><r>caf\xE9</r>", true},
        {"latin1 declared", "<?xml version=\"1.0\" encoding=\"latin1\"?><r>\xE9</r>", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Doc doc;
        EXPECT_EQ(zvXMLUnflatten(doc, c.text.c_str()), c.ok ? ZV_OK : ZV_E_PARSE);
        if (!c.ok) {
            EXPECT_NE(std::string(zvLastErrorText()).find("line 1"), std::string::npos) << zvLastErrorText();
            continue;
        }
        // What is written reads back, as UTF-8 that says so.
        const std::string flat = doc.Flat();
        EXPECT_NE(flat.find("encoding=\"UTF-8\""), std::string::npos) << flat;
        Doc reread(flat.c_str());
        EXPECT_EQ(reread.Flat(), flat);
    }
    Doc latin("<?xml version='1.0' encoding='ISO-8859-1'?><r>caf\xE9</r>");
    EXPECT_NE(latin.Flat().find("caf\xC3\xA9"), std::string::npos);

    Doc doc("<r/>");
    zvXmlItem item = 0;
    EXPECT_EQ(zvXMLSetItemString(doc, doc.Root(), "caf\xE9"), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLCreateItem(doc, doc.Root(), ZV_XML_LAST, "a", "\xC3", &item), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLCreateItem(doc, doc.Root(), ZV_XML_LAST, "caf\xE9", "", &item), ZV_E_ARGUMENT);
    EXPECT_EQ(zvXMLSetItemString(doc, doc.Root(), "caf\xC3\xA9"), ZV_OK);
    EXPECT_EQ(doc.Flat(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>caf\xC3\xA9</r>\n");
}

// A document holds at most 1,000,000 elements and 256 attributes on one
// element; checking for a repeated attribute stays quick however many
// there are.
TEST(XmlText, WhatADocumentMayHoldIsBounded) {
    zv::testing::Scope scope;
    const auto attributes = [](int n, bool repeat) {
        std::string text = "<r";
        for (int i = 0; i < n; ++i) text += " a" + std::to_string(i) + "='1'";
        if (repeat) text += " a7='2'";
        return text + "/>";
    };
    {
        Doc many(attributes(256, false));
        EXPECT_NE(many.Root(), 0u);
    }
    for (const auto& [what, text] :
         std::vector<std::pair<std::string, std::string>>{{"257 attributes", attributes(257, false)},
                                                          {"200,000 attributes", attributes(200000, false)},
                                                          {"a repeat among 200", attributes(199, true)}}) {
        SCOPED_TRACE(what);
        Doc doc;
        EXPECT_EQ(zvXMLUnflatten(doc, text.c_str()), ZV_E_PARSE);
        EXPECT_NE(std::string(zvLastErrorText()).find("attribute"), std::string::npos) << zvLastErrorText();
    }
    std::string elements = "<r>";
    for (int i = 1; i < 1000000; ++i) elements += "<a/>";
    {
        Doc fits(elements + "</r>");
        EXPECT_NE(fits.Root(), 0u);
    }
    for (const std::string& more : {std::string("<a/>"), std::string("<!---->"), std::string("<a x='1'/>")}) {
        SCOPED_TRACE(more);
        const std::string text = elements + more + "</r>";
        for (bool bytewise : {false, true}) {
            bool deep = false;
            EXPECT_FALSE(zv::testing::XmlTextCheck(text, bytewise, &deep));
        }
        Doc doc;
        EXPECT_EQ(zvXMLUnflatten(doc, text.c_str()), ZV_E_PARSE);
        EXPECT_NE(std::string(zvLastErrorText()).find("more elements"), std::string::npos) << zvLastErrorText();
    }
}

// A refused document says where it was read from, on which line, and what
// is wrong there.
TEST(XmlText, RefusedDocumentsSayWhereAndWhy) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Settings.xml",
                "<SensorGroup>\n  <Capture>\n    <Enabled>1</Enabled>\n  </Captured>\n</SensorGroup>\n");
    zvHandle document = nullptr;
    zvLastErrorClear();
    EXPECT_EQ(zvXmlLoad("\\SN7\\Settings.xml", &document), ZV_E_PARSE);
    std::string reason = zvLastErrorText();
    EXPECT_EQ(reason.find("\"\\SN7\\Settings.xml\": line 4: "), 0u) << reason;

    // Read into memory first and then parsed, as the documents of the
    // product are: the file is still named.
    zvHandle file = nullptr;
    ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(file, "\\SN7\\Settings.xml", ZV_FILE_READ), ZV_OK);
    int64_t length = 0;
    ASSERT_EQ(zvFileLength(file, &length), ZV_OK);
    std::string text(static_cast<size_t>(length), '\0');
    ASSERT_EQ(zvFileRead(file, text.data(), length, nullptr), ZV_OK);
    ASSERT_EQ(zvFileDestroy(file), ZV_OK);
    Doc doc;
    zvLastErrorClear();
    EXPECT_EQ(zvXMLUnflatten(doc, text.c_str()), ZV_E_PARSE);
    EXPECT_EQ(std::string(zvLastErrorText()), reason);

    // Text from elsewhere is "the document"; a repeated root is placed too.
    EXPECT_EQ(zvXMLUnflatten(doc, "<a/>\n<b/>"), ZV_E_PARSE);
    EXPECT_STREQ(zvLastErrorText(), "the document: line 2: a second root element");
    EXPECT_EQ(zvXMLUnflatten(doc, "<r>\n\x01</r>"), ZV_E_PARSE);
    EXPECT_STREQ(zvLastErrorText(), "the document: line 2: a control character");
    // Reasons belong to their thread.
    std::string other = "unset";
    std::thread([&] { other = zvLastErrorText(); }).join();
    EXPECT_EQ(other, "");
}

TEST(XmlText, WritingKeepsWhatTheWriterDidNotTouch) {
    zv::testing::Scope scope;
    const char* original =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!-- station settings -->\n"
        "<SensorGroup z=\"1\" a=\"2\" m=\"3\">\n"
        "  <!-- keep me -->\n"
        "  <Unknown flag=\"yes\"><Deep>text</Deep></Unknown>\n"
        "  <OutputBatchCount>1</OutputBatchCount>\n"
        "  <Name>caf\xc3\xa9 &amp; more</Name>\n"
        "</SensorGroup>\n";
    Doc doc(original);
    ASSERT_EQ(zvXMLSetChildInt(doc, doc.Root(), "OutputBatchCount", 4), ZV_OK);
    const std::string text = doc.Flat();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n  <OutputBatchCount>4</OutputBatchCount>\n"), std::string::npos) << text;

    // Any standard reader sees the same tree, the untouched parts intact.
    pugi::xml_document check;
    ASSERT_TRUE(check.load_string(text.c_str(), pugi::parse_default | pugi::parse_comments));
    pugi::xml_node root = check.document_element();
    std::vector<std::string> attributes;
    for (pugi::xml_attribute a : root.attributes()) attributes.emplace_back(a.name());
    EXPECT_EQ(attributes, (std::vector<std::string>{"z", "a", "m"}));
    EXPECT_STREQ(check.first_child().value(), " station settings ");
    EXPECT_STREQ(root.first_child().value(), " keep me ");
    EXPECT_STREQ(root.child("Unknown").attribute("flag").value(), "yes");
    EXPECT_STREQ(root.child("Unknown").child_value("Deep"), "text");
    EXPECT_STREQ(root.child_value("Name"), "caf\xc3\xa9 & more");

    // A new document gets a declaration of its own.
    Doc fresh;
    zvXmlItem item = 0;
    ASSERT_EQ(zvXMLCreateItem(fresh, ZV_XML_DOCUMENT, ZV_XML_FIRST, "Model", "X1", &item), ZV_OK);
    EXPECT_EQ(fresh.Flat(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Model>X1</Model>\n");
}

TEST(XmlText, FlattenReportsTheSizeAndRefusesSmallBuffers) {
    zv::testing::Scope scope;
    Doc doc("<r/>");
    int64_t size = 0;
    ASSERT_EQ(zvXMLFlatten(doc, nullptr, 0, &size), ZV_OK);
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '#');
    ASSERT_EQ(zvXMLFlatten(doc, buffer.data(), size + 1, &size), ZV_OK);
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '\0');
    int64_t again = 0;
    EXPECT_EQ(zvXMLFlatten(doc, buffer.data(), size - 1, &again), ZV_E_RANGE);
    EXPECT_EQ(again, size);
    EXPECT_EQ(zvXMLFlatten(doc, buffer.data(), 4, nullptr), ZV_E_ARGUMENT);
}

TEST(XmlFiles, DocumentsReadAndWriteThroughFileObjects) {
    zv::testing::Scope scope;
    TempFileSpace space;
    space.Write("SN7/Calibration.xml", "<Calibration><Sensor><SerialNumber>1000</SerialNumber></Sensor></Calibration>");
    zvHandle doc = nullptr;
    ASSERT_EQ(zvXmlLoad("\\sn7\\calibration.xml", &doc), ZV_OK);
    zvXmlItem root = 0;
    ASSERT_EQ(zvXmlRoot(doc, &root), ZV_OK);
    zvXmlItem sensor = 0;
    ASSERT_EQ(zvXMLGetFirstChild(doc, root, &sensor), ZV_OK);
    ASSERT_EQ(zvXMLSetChildFloat(doc, sensor, "X", 0.25, 15), ZV_OK);

    zvHandle file = nullptr;
    ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(file, "\\SN7\\Calibration.xml", ZV_FILE_WRITE), ZV_OK);
    ASSERT_EQ(zvXMLWrite(doc, file), ZV_OK);
    ASSERT_EQ(zvFileDestroy(file), ZV_OK);
    ASSERT_EQ(zvXMLDestroy(doc), ZV_OK);

    ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(file, "\\SN7\\Calibration.xml", ZV_FILE_READ), ZV_OK);
    Doc reread;
    ASSERT_EQ(zvXMLRead(reread, file), ZV_OK);
    EXPECT_EQ(zvXMLWrite(reread, file), ZV_E_STATE);  // open for reading
    ASSERT_EQ(zvFileDestroy(file), ZV_OK);
    double x = 0;
    ASSERT_EQ(zvXMLGetChildFloat(reread, reread.Find("Sensor"), "X", &x), ZV_OK);
    EXPECT_EQ(x, 0.25);

    const int64_t objects = zv::testing::LiveObjects();
    space.Write("broken.xml", "<r><a></r>");
    doc = reinterpret_cast<zvHandle>(1);
    EXPECT_EQ(zvXmlLoad("broken.xml", &doc), ZV_E_PARSE);
    EXPECT_EQ(doc, nullptr);
    EXPECT_EQ(zvXmlLoad("none.xml", &doc), ZV_E_NOTFOUND);
    EXPECT_EQ(zvXmlLoad("..\\x.xml", &doc), ZV_E_ACCESS);
    space.Write("nul.xml", std::string("<r>\0</r>", 8));
    EXPECT_EQ(zvXmlLoad("nul.xml", &doc), ZV_E_PARSE);
    EXPECT_EQ(zv::testing::LiveObjects(), objects);
}

TEST(XmlFiles, AFailedDocumentWriteNeverReplacesTheFile) {
    zv::testing::Scope scope;
    TempFileSpace space;
    const std::string old = "<Settings><MaxSlices>3</MaxSlices></Settings>";
    space.Write("SN7/Settings.xml", old);
    Doc doc;
    ASSERT_EQ(zvXMLUnflatten(doc, "<Settings><MaxSlices>9</MaxSlices></Settings>"), ZV_OK);
    zvHandle file = nullptr;
    ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
    ASSERT_EQ(zvFileInit(file, "\\SN7\\Settings.xml", ZV_FILE_WRITE), ZV_OK);
    zv::testing::FailCall("zvXMLWrite", 1, -31);
    EXPECT_EQ(zvXMLWrite(doc, file), -31);
    EXPECT_EQ(zvFileDestroy(file), ZV_E_IO);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), old);
}

TEST(XmlFaults, EveryFailureIsReportedAndLeaksNothing) {
    std::string text = "<SensorGroup>";
    for (int i = 0; i < 50; ++i)
        text += "<Sensor><Name>S</Name><SerialNumber>" + std::to_string(1000 + i) + "</SerialNumber></Sensor>";
    text += "</SensorGroup>";
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        zvHandle doc = nullptr;
        zvStatus status = zvXMLCreate(&doc, nullptr);
        if (status > 0) status = zvXMLInit(doc, 0);
        if (status > 0) status = zvXMLUnflatten(doc, text.c_str());
        zvXmlItem root = 0;
        if (status > 0) status = zvXMLGetRoot(doc, &root);
        if (status > 0) status = zvXMLSetChildInt(doc, root, "Added", 1);
        if (doc != nullptr) {
            EXPECT_EQ(zvXMLDestroy(doc), ZV_OK);
        }
        return status;
    };
    loop.check = [](const zvtest::Fault& fault, zvStatus status) {
        EXPECT_EQ(status, fault.Allocation() ? ZV_E_NOMEM : fault.injected);
    };
    EXPECT_GT(loop.Run(), 5);
}

TEST(XmlJournal, CallsNameTheirElements) {
    zv::testing::Scope scope;
    Doc doc("<r/>");
    zv::testing::JournalStart();
    int32_t v = 0;
    zvXmlItem item = 0;
    zvXMLGetChildInt(doc, doc.Root(), "OutputBatchCount", &v);
    zvXMLFindBranchItem(doc, doc.Root(), "Web", 1, &item);
    EXPECT_EQ(zv::testing::JournalOf("zvXMLGetChildInt"),
              std::vector<std::string>{"zvXMLGetChildInt OutputBatchCount"});
    EXPECT_EQ(zv::testing::JournalOf("zvXMLFindBranchItem"), std::vector<std::string>{"zvXMLFindBranchItem Web 1"});
    zv::testing::FailCall("zvXMLSetChildInt", 1, -42);
    EXPECT_EQ(zvXMLSetChildInt(doc, doc.Root(), "a", 1), -42);
}

}  // namespace
