#include "plugin/xml_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/document_test_support.hpp"

namespace {

// A document parsed from `text`, destroyed at the end.
class Document {
public:
    explicit Document(const char* text) {
        EXPECT_EQ(zvXMLCreate(handle.Out(), 0), 1);
        EXPECT_EQ(zvXMLInit(handle, 0), 1);
        EXPECT_EQ(zvXMLUnflatten(handle, text), 1);
        EXPECT_EQ(zvXMLGetRoot(handle, &root), 1);
    }
    std::string Name(zvXmlItem item) const {
        char name[256] = {};
        EXPECT_EQ(zvXMLGetItemName(handle, item, name, sizeof name), 1);
        return name;
    }
    int32_t ChildCount(zvXmlItem parent) const {
        int32_t count = 0;
        zvXmlItem item = 0;
        zvXMLGetFirstChild(handle, parent, &item);
        while (item != 0) {
            ++count;
            zvXMLGetNextSibling(handle, item, &item);
        }
        return count;
    }

    zv::OwnedXml handle;
    zvXmlItem root = 0;
};

TEST(XmlFindChild, FindsTheFirstMatchByExactName) {
    Document doc("<Root><Web>1</Web><web>2</web><Capture/><Web>3</Web></Root>");
    zvXmlItem child = 0;
    ASSERT_EQ(XmlFindChild(doc.handle, doc.root, "Web", &child), 1);
    int32_t value = 0;
    zvXMLGetItemInt(doc.handle, child, &value);
    EXPECT_EQ(value, 1);

    ASSERT_EQ(XmlFindChild(doc.handle, doc.root, "Capture", &child), 1);
    EXPECT_EQ(doc.Name(child), "Capture");

    child = 99;
    ASSERT_EQ(XmlFindChild(doc.handle, doc.root, "WEB", &child), 1);
    EXPECT_EQ(child, 0u);
    ASSERT_EQ(XmlFindChild(doc.handle, doc.root, "Capturing", &child), 1);
    EXPECT_EQ(child, 0u);
}

TEST(XmlFindChild, LongerNamesBeginningWithTheNameMatch) {
    // The name is read into a buffer of the looked-for length only, so a
    // longer name the platform shortens matches; the buffer never overflows.
    Document doc("<Root><IoStateOutputEnableMask>1</IoStateOutputEnableMask></Root>");
    zvXmlItem child = 0;
    ASSERT_EQ(XmlFindChild(doc.handle, doc.root, "IoStateOutputEnable", &child), 1);
    EXPECT_NE(child, 0u);
    ASSERT_EQ(XmlFindChild(doc.handle, doc.root, "", &child), 1);
    EXPECT_NE(child, 0u);
}

TEST(XmlFindChild, FailuresArePassedBack) {
    Document doc("<Root><A/><B/></Root>");
    zv::testing::Scope seams;
    zvXmlItem child = 99;
    zv::testing::FailCall("zvXMLGetItemName", 2, -31);
    EXPECT_EQ(XmlFindChild(doc.handle, doc.root, "B", &child), -31);
    EXPECT_EQ(child, 0u);
    zv::testing::FailAllocation(1);
    EXPECT_EQ(XmlFindChild(doc.handle, doc.root, "B", &child), 0);
    EXPECT_EQ(XmlFindChild(doc.handle, doc.root, nullptr, &child), ZV_E_ARGUMENT);
    EXPECT_EQ(XmlFindChild(nullptr, doc.root, "B", &child), ZV_E_HANDLE);
}

TEST(XmlFindOrCreatePath, CreatesOnceThenFinds) {
    Document doc("<Root><Keep/></Root>");
    zvXmlItem first = 0;
    ASSERT_EQ(XmlFindOrCreatePath(doc.handle, doc.root, "Web/SyncResolution\\Distance", &first), 1);
    EXPECT_EQ(doc.Name(first), "Distance");
    zvXmlItem again = 0;
    ASSERT_EQ(XmlFindOrCreatePath(doc.handle, doc.root, "\\Web//SyncResolution/Distance/", &again), 1);
    EXPECT_EQ(again, first);
    EXPECT_EQ(doc.ChildCount(doc.root), 2);  // Keep, Web

    zvXmlItem web = 0;
    ASSERT_EQ(zvXMLFindBranchItem(doc.handle, doc.root, "Web", 1, &web), 1);
    EXPECT_EQ(doc.ChildCount(web), 1);
    zvXmlItem found = 0;
    ASSERT_EQ(zvXMLFindBranchItem(doc.handle, doc.root, "Web/SyncResolution/Distance", 1, &found), 1);
    EXPECT_EQ(found, first);

    zvXmlItem same = 0;
    for (const char* empty : {"", "/", "\\\\//"}) {
        SCOPED_TRACE(empty);
        ASSERT_EQ(XmlFindOrCreatePath(doc.handle, doc.root, empty, &same), 1);
        EXPECT_EQ(same, doc.root);
    }
}

TEST(XmlFindOrCreatePath, LongPathsAreCutAt127Characters) {
    Document doc("<Root/>");
    const std::string a(100, 'a');
    const std::string b(40, 'b');  // only 26 of these fit
    zvXmlItem element = 0;
    ASSERT_EQ(XmlFindOrCreatePath(doc.handle, doc.root, (a + "/" + b + "/c").c_str(), &element), 1);
    EXPECT_EQ(doc.Name(element), std::string(26, 'b'));
    zvXmlItem top = 0;
    ASSERT_EQ(zvXMLGetFirstChild(doc.handle, doc.root, &top), 1);
    EXPECT_EQ(doc.Name(top), a);
    EXPECT_EQ(doc.ChildCount(element), 0);
}

TEST(XmlSetPath, SetsTextIntegersAndFloats) {
    Document doc("<Root/>");
    ASSERT_EQ(XmlSetPathString(doc.handle, doc.root, "Name", "System"), 1);
    ASSERT_EQ(XmlSetPathInt(doc.handle, doc.root, "Capture/Divisor", -12), 1);
    ASSERT_EQ(XmlSetPathFloat(doc.handle, doc.root, "Capture/Rate", 2.5, 3), 1);
    ASSERT_EQ(XmlSetPathInt(doc.handle, doc.root, "Capture/Divisor", 4), 1);
    char text[1024] = {};
    int64_t size = 0;
    ASSERT_EQ(zvXMLFlatten(doc.handle, text, sizeof text, &size), 1);
    const std::string flat(text, static_cast<size_t>(size));
    EXPECT_NE(flat.find("<Name>System</Name>"), std::string::npos);
    EXPECT_NE(flat.find("<Divisor>4</Divisor>"), std::string::npos);
    EXPECT_NE(flat.find("<Rate>2.500</Rate>"), std::string::npos);

    zv::testing::Scope seams;
    zv::testing::FailCall("zvXMLSetItemFloat", 1, -40);
    EXPECT_EQ(XmlSetPathFloat(doc.handle, doc.root, "Capture/Rate", 1.0, 1), -40);
    zv::testing::FailCall("zvXMLCreateItem", 1, -41);
    EXPECT_EQ(XmlSetPathInt(doc.handle, doc.root, "Other", 1), -41);
}

}  // namespace
