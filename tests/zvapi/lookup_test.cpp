// Handle and item lookups on their fast paths: the registry while it grows
// and shrinks (also with readers on other threads), child reads in and out
// of document order, and the strict checks that only walk the tree when the
// text calls for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/xml_document.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

zvHandle NewList() {
    zvHandle list = nullptr;
    EXPECT_EQ(zvArrayListCreate(&list, nullptr), ZV_OK);
    return list;
}

TEST(Registry, HandlesStayCheckableThroughGrowthAndChurn) {
    zv::testing::Scope scope;
    const int64_t before = zv::testing::LiveObjects(ZV_TYPE_ARRAYLIST);
    // Enough to outgrow the table several times over.
    std::vector<zvHandle> lists;
    for (int i = 0; i < 5000; ++i) lists.push_back(NewList());
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_ARRAYLIST), before + 5000);

    // Destroy half in a scrambled order: later members of each probe run
    // move back into the holes left.
    std::vector<zvHandle> doomed(lists.begin(), lists.begin() + 2500);
    std::vector<zvHandle> kept(lists.begin() + 2500, lists.end());
    std::shuffle(doomed.begin(), doomed.end(), std::mt19937(7));
    for (zvHandle list : doomed) ASSERT_EQ(zvArrayListDestroy(list), ZV_OK);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_ARRAYLIST), before + 2500);

    for (zvHandle list : kept) ASSERT_EQ(zvObjectType(list), ZV_TYPE_ARRAYLIST);
    // Dead handles are refused without being followed (the sanitizer
    // build would catch a read of the freed records).
    for (zvHandle list : doomed) {
        ASSERT_EQ(zvObjectType(list), 0);
        ASSERT_EQ(zvObjectDestroy(list), ZV_E_HANDLE);
    }
    for (zvHandle list : kept) ASSERT_EQ(zvObjectDestroy(list), ZV_OK);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_ARRAYLIST), before);
}

TEST(Registry, OtherThreadsSeeLiveObjectsWhileTheTableChanges) {
    zv::testing::Scope scope;
    std::vector<zvHandle> steady;
    for (int i = 0; i < 64; ++i) steady.push_back(NewList());
    std::atomic<bool> done{false};
    std::atomic<int> misses{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                for (zvHandle list : steady)
                    if (zvObjectIs(list, ZV_TYPE_ARRAYLIST) != 1) misses.fetch_add(1);
            }
        });
    }
    // Churn that grows the table and empties it again, twice.
    for (int round = 0; round < 2; ++round) {
        std::vector<zvHandle> churn;
        for (int i = 0; i < 4000; ++i) churn.push_back(NewList());
        for (zvHandle list : churn) zvArrayListDestroy(list);
    }
    done.store(true);
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(misses.load(), 0);
    for (zvHandle list : steady) EXPECT_EQ(zvArrayListDestroy(list), ZV_OK);
}

using Doc = zvtest::XmlDocument;

TEST(XmlLookups, ChildReadsFindTheFirstOfTheirNameWhateverTheOrder) {
    zv::testing::Scope scope;
    Doc doc("<r><p><a>1</a><b>2</b><a>3</a><c>4</c></p><q><c>5</c><a>6</a></q></r>");
    const zvXmlItem p = doc.Find("p", 1, doc.Root());
    const zvXmlItem q = doc.Find("q", 1, doc.Root());
    struct Read {
        zvXmlItem parent;
        const char* name;
        int32_t value;
    };
    // In order, repeated, backwards, across parents, and missing.
    for (const Read& read : std::vector<Read>{{p, "a", 1},
                                              {p, "b", 2},
                                              {p, "a", 1},
                                              {p, "c", 4},
                                              {p, "c", 4},
                                              {q, "a", 6},
                                              {p, "b", 2},
                                              {q, "c", 5},
                                              {q, "a", 6},
                                              {p, "d", 0},
                                              {p, "a", 1},
                                              {p, "", 0}}) {
        SCOPED_TRACE(std::string(read.name) + " = " + std::to_string(read.value));
        EXPECT_EQ(doc.Int(read.parent, read.name), read.value);
    }
    EXPECT_EQ(doc.Find("p/c", 1, doc.Root()), doc.Find("c", 1, p));

    // Edits between reads: the first "a" goes, a "c" comes first.
    ASSERT_EQ(doc.Int(p, "b"), 2);
    ASSERT_EQ(zvXMLDeleteItem(doc, doc.Find("a", 1, p)), ZV_OK);
    EXPECT_EQ(doc.Int(p, "a"), 3);
    EXPECT_EQ(doc.Int(p, "c"), 4);
    zvXmlItem made = 0;
    ASSERT_EQ(zvXMLCreateItem(doc, p, ZV_XML_FIRST, "c", "9", &made), ZV_OK);
    EXPECT_EQ(doc.Int(p, "b"), 2);
    EXPECT_EQ(doc.Int(p, "c"), 9);
    EXPECT_EQ(doc.Find("c", 1, p), made);
    // A child set where none was is appended, and found after the rest.
    ASSERT_EQ(zvXMLSetChildInt(doc, p, "e", 7), ZV_OK);
    EXPECT_EQ(doc.Int(p, "e"), 7);
    EXPECT_EQ(doc.Int(p, "a"), 3);

    // A new text replaces the tree whole.
    ASSERT_EQ(zvXMLUnflatten(doc, "<r><a>8</a><a>9</a></r>"), ZV_OK);
    EXPECT_EQ(doc.Int(doc.Root(), "a"), 8);
}

// Names that share their length, their first or last eight bytes, or all
// but one byte in the middle are still told apart, and repeats still give
// the first of their name.
TEST(XmlLookups, NamesAlikeInPartAreToldApart) {
    zv::testing::Scope scope;
    const std::vector<std::string> names = {
        "S",         "SensorNameA",         "SensorNameB",         "Sensor",           "Sensor1",          "SensorNa",
        "SensorNam", "ABCDEFGH_x_IJKLMNOP", "ABCDEFGH_y_IJKLMNOP", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOQ", "T"};
    std::string text = "<r>";
    for (size_t i = 0; i < names.size(); ++i)
        text += "<" + names[i] + ">" + std::to_string(i + 1) + "</" + names[i] + ">";
    text += "<SensorNameA>99</SensorNameA><S>98</S></r>";
    Doc doc(text.c_str());
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t k = 0; k < names.size(); ++k) {
            const size_t i = pass == 0 ? k : names.size() - 1 - k;  // in order, then backwards
            SCOPED_TRACE(names[i]);
            EXPECT_EQ(doc.Int(doc.Root(), names[i].c_str()), static_cast<int32_t>(i + 1));
        }
    }
    for (const char* missing : {"SensorNameC", "ABCDEFGH_z_IJKLMNOP", "SensorN", "U"}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(doc.Int(doc.Root(), missing), 0);
    }
}

TEST(XmlText, RefusalsThatNeedTheWholeTreeStillComeThrough) {
    zv::testing::Scope scope;
    const auto nested = [](int depth, const char* inside) {
        std::string text;
        for (int i = 0; i < depth; ++i) text += "<a>";
        text += inside;
        for (int i = 0; i < depth; ++i) text += "</a>";
        return text;
    };
    struct Case {
        std::string text;
        zvStatus status;
    };
    for (const Case& c : std::vector<Case>{
             // Repeated attributes below the root, beside other values, and
             // behind a '>' inside a value.
             {"<r><s><t x='1' y='2' x='3'/></s></r>", ZV_E_PARSE},
             {"<r><s x='>' x='2'/></r>", ZV_E_PARSE},
             {"<r><s x='1' y='2'/><s x='1'/></r>", ZV_OK},
             // The declaration's own values neither hide a repeat below the
             // root nor may repeat themselves.
             {"<?xml version='1.0' encoding='UTF-8'?><r><s x='1' x='2'/></r>", ZV_E_PARSE},
             {"<?xml version='1.0' encoding='UTF-8'?><r><s x='1'/></r>", ZV_OK},
             {"<?xml version='1.0' version='1.0'?><r/>", ZV_E_PARSE},
             // A document type whose quoted name holds a '[' hides nothing.
             {"<!DOCTYPE r SYSTEM \"[\"><r><s x='1' x='2'/></r>", ZV_E_PARSE},
             {"<!DOCTYPE r SYSTEM \"[\"><r><s x='1'/></r>", ZV_OK},
             // Tags in comments and CDATA are text.
             {"<r><!-- <s x='1' x='2'> --><![CDATA[<s x='1' x='2'>]]></r>", ZV_OK},
             // Nesting: an element at depth 256 may not hold anything.
             {nested(255, "text"), ZV_OK},
             {nested(256, ""), ZV_OK},
             {nested(255, "<b/>"), ZV_OK},
             {nested(256, "text"), ZV_E_PARSE},
             {nested(256, "<b/>"), ZV_E_PARSE},
             {nested(256, "<!-- c -->"), ZV_E_PARSE},
         }) {
        SCOPED_TRACE(c.text.substr(0, 60));
        zvHandle doc = nullptr;
        ASSERT_EQ(zvXMLCreate(&doc, nullptr), ZV_OK);
        ASSERT_EQ(zvXMLInit(doc, 0), ZV_OK);
        EXPECT_EQ(zvXMLUnflatten(doc, c.text.c_str()), c.status);
        EXPECT_EQ(zvXMLDestroy(doc), ZV_OK);
    }
}

TEST(XmlText, TheQuickRouteAnswersAsTheByteWisePassDoes) {
    const auto same = [](const std::string& text) {
        bool quickDeep = true, slowDeep = true;
        const bool quick = zv::testing::XmlTextCheck(text, false, &quickDeep);
        const bool slow = zv::testing::XmlTextCheck(text, true, &slowDeep);
        return quick == slow && (!quick || quickDeep == slowDeep);
    };
    std::string nested;
    for (int i = 0; i < 300; ++i) nested += i % 2 == 0 ? "<a>" : "<b/>";
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const auto chain = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) text += "<a>";
        text += "x";
        for (int i = 0; i < depth; ++i) text += "</a>";
        return text;
    };
    for (const std::string& text : std::vector<std::string>{
             // Plain markup: tags, text with '>', empty and end tags, odd tags.
             "<r><a>1</a><b/></r>", "<r>x > y</r>", "<r><a<b></r>", "<>", "</>", "<a/ >", "<a", "<a/", "</a",
             "<r>text<", "</r></r>", "<r><a></r>", nested, declaration + "<r><a>1</a></r>", declaration + nested,
             chain(255), chain(256), chain(257), declaration + chain(256),
             // Markup only the byte-wise pass reads, after plain markup.
             declaration + "<r><a x='1' y='2'/></r>", "<r>it's</r>", "<r>&amp;</r>", "<r>&bogus;</r>",
             "<r><!-- < --></r>", "<r><?p <?></r>", "<!DOCTYPE r><r/>", "<r>\x01</r>", "<?xml?><r/>",
             "<?xml version='1.0'/><r>\x07</r>"}) {
        SCOPED_TRACE(text.substr(0, 60));
        EXPECT_TRUE(same(text));
    }
    // Random runs of the bytes that matter, mostly plain, some after a
    // declaration, within and across the quick route's steps of 64 bytes.
    const std::string alphabet = "<<<>>>//ab \n\t?!\"'&;#x[]-\x01";
    std::mt19937 random(11);
    for (int round = 0; round < 20000; ++round) {
        std::string text = round % 3 == 0 ? declaration : "";
        const int length = static_cast<int>(random() % (round % 4 == 0 ? 400 : 48));
        const bool plain = round % 2 == 0;
        for (int i = 0; i < length; ++i) {
            const size_t pick = random() % (plain ? 11 : alphabet.size());
            text += alphabet[pick];
        }
        ASSERT_TRUE(same(text)) << text;
    }
    // Random element trees of plain markup, some nesting past the limit,
    // some with empty-element tags, end tags closing nothing, or a stray
    // byte that sends the rest byte by byte.
    for (int round = 0; round < 3000; ++round) {
        std::string text = round % 2 == 0 ? declaration : "";
        int depth = 0;
        const int limit = round % 5 == 0 ? 300 : 20;
        const int tags = static_cast<int>(random() % 600);
        for (int t = 0; t < tags; ++t) {
            const unsigned pick = random() % 10;
            if (pick < 4 && depth < limit) {
                text += "<e" + std::to_string(pick) + ">";
                ++depth;
            } else if (pick < 8 && depth > 0) {
                text += "</e>";
                --depth;
            } else if (pick == 8) {
                text += round % 3 == 0 ? "<b/>" : "text > more\n  ";
            } else {
                text += round % 7 == 0 ? "</x/>" : round % 11 == 0 ? "'" : "12";
            }
        }
        ASSERT_TRUE(same(text)) << text.substr(0, 200);
    }
}

}  // namespace
