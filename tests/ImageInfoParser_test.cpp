#include "ImageInfoParser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "TestSupport.h"
#include "XMLNode.h"

namespace {

const std::string kHead = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

class InfoFile : public ::testing::Test {
  protected:
    std::string write(const std::string& content, const std::string& name = "in.info") {
        const std::string path = dir.file(name);
        testsupport::writeFile(path, content);
        return path;
    }
    // Opens content and reports whether it was accepted.
    bool open(const std::string& content) { return parser.Open(write(content)); }
    std::string written() {
        const std::string path = dir.file("out.info");
        EXPECT_TRUE(parser.WriteToFile(path));
        return testsupport::readFile(path);
    }

    testsupport::TempDir dir;
    ImageInfoParser parser;
};

// --- writing ---------------------------------------------------------------------------------

TEST_F(InfoFile, FreshDocumentLayout) {
    EXPECT_EQ(written(), kHead + "<ImageInfo/>\n");
    const float axial[6] = {1, 0, 0, 0, 1, 0};
    parser.UpdateImageOrientation(axial);
    parser.UpdateSliceOrder(1);
    EXPECT_EQ(written(), kHead +
                             "<ImageInfo>\n"
                             "\t<ImageOrientation>\n"
                             "\t\t1.000000, 0.000000, 0.000000, 0.000000, 1.000000, 0.000000\n"
                             "\t</ImageOrientation>\n"
                             "\t<SliceOrder>\n"
                             "\t\t1\n"
                             "\t</SliceOrder>\n"
                             "</ImageInfo>\n");
}

TEST_F(InfoFile, ReadUpdateWriteKeepsEverythingElseInOrder) {
    ASSERT_TRUE(
        open("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
             "<ImageInfo version='2'>\r\n"
             "  <!-- from scanner -->\r\n"
             "  <PatientName>Doe &amp; Co</PatientName>\r\n"
             "  <ImageOrientation>0,1,0,0,0,-1</ImageOrientation>\r\n"
             "  <Series number=\"3\"/>\r\n"
             "  <SliceOrder>-1</SliceOrder>\r\n"
             "</ImageInfo>\r\n"));
    const float axial[6] = {1, 0, 0, 0, 1, 0.5f};
    parser.UpdateImageOrientation(axial);
    parser.UpdateManufacturer("ACME");
    EXPECT_EQ(parser.GetNode().nChildNode(), 5);
    EXPECT_EQ(written(), kHead +
                             "<ImageInfo version=\"2\">\n"
                             "\t<!-- from scanner -->\n"
                             "\t<PatientName>\n"
                             "\t\tDoe &amp; Co\n"
                             "\t</PatientName>\n"
                             "\t<ImageOrientation>\n"
                             "\t\t1.000000, 0.000000, 0.000000, 0.000000, 1.000000, 0.500000\n"
                             "\t</ImageOrientation>\n"
                             "\t<Series number=\"3\"/>\n"
                             "\t<SliceOrder>\n"
                             "\t\t-1\n"
                             "\t</SliceOrder>\n"
                             "\t<Manufacturer>\n"
                             "\t\tACME\n"
                             "\t</Manufacturer>\n"
                             "</ImageInfo>\n");
}

TEST_F(InfoFile, EntitiesRoundTrip) {
    const std::string name = "A&B <x> \"q\" 'a'";
    parser.UpdateManufacturer(name);
    const std::string text = written();
    EXPECT_NE(text.find("A&amp;B &lt;x&gt; &quot;q&quot; &apos;a&apos;"), std::string::npos);
    ASSERT_TRUE(parser.Open(dir.file("out.info")));
    EXPECT_EQ(parser.GetManufacturer(), name);

    ASSERT_TRUE(
        open("<ImageInfo><Manufacturer>&#65;&#x62;&#X43;&AMP;&Lt;</Manufacturer>"
             "</ImageInfo>"));
    EXPECT_EQ(parser.GetManufacturer(), "AbC&<");
}

TEST_F(InfoFile, WriteFailure) {
    EXPECT_FALSE(parser.WriteToFile(dir.file("no/such/folder/x.info")));
}

// --- reading values --------------------------------------------------------------------------

TEST_F(InfoFile, NamesAreCaseInsensitiveAndByteOrderMarkIsSkipped) {
    const std::string body =
        "<imageinfo><imageorientation>0, 1, 0, 0, 0, -1</imageorientation>"
        "<sliceorder>-1</sliceorder><manufacturer>  GE  </manufacturer></imageinfo>";
    for (const std::string& content : {body, "\xEF\xBB\xBF" + body}) {
        ASSERT_TRUE(open(content));
        float o[6] = {};
        ASSERT_TRUE(parser.GetImageOrientation(o));
        EXPECT_EQ(o[1], 1.0f);
        EXPECT_EQ(o[5], -1.0f);
        EXPECT_EQ(parser.GetSliceOrder(), -1);
        EXPECT_EQ(parser.GetManufacturer(), "GE");
    }
}

TEST_F(InfoFile, OrientationParts) {
    float bare[6] = {};
    float formatted[6] = {};
    ASSERT_TRUE(
        open("<ImageInfo><ImageOrientation>0.6,-0.8,0,0.8,0.6,0</ImageOrientation>"
             "</ImageInfo>"));
    ASSERT_TRUE(parser.GetImageOrientation(bare));
    ASSERT_TRUE(
        open("<ImageInfo><ImageOrientation>0.600000, -0.800000, 0.000000, 0.800000, "
             "0.600000, 0.000000</ImageOrientation></ImageInfo>"));
    ASSERT_TRUE(parser.GetImageOrientation(formatted));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(bare[i], formatted[i]) << i;
    }
    EXPECT_EQ(bare[1], -0.8f);

    float seven[6] = {};
    ASSERT_TRUE(
        open("<ImageInfo><ImageOrientation>,,1,2,,3,4,5,6,7,</ImageOrientation>"
             "</ImageInfo>"));
    ASSERT_TRUE(parser.GetImageOrientation(seven));
    EXPECT_EQ(seven[0], 1.0f);
    EXPECT_EQ(seven[5], 6.0f);

    float untouched[6] = {9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(open("<ImageInfo><ImageOrientation>1 0 0 0 1 0</ImageOrientation></ImageInfo>"));
    EXPECT_FALSE(parser.GetImageOrientation(untouched));
    ASSERT_TRUE(open("<ImageInfo><ImageOrientation>1,0,0,0,,1</ImageOrientation></ImageInfo>"));
    EXPECT_FALSE(parser.GetImageOrientation(untouched));
    ASSERT_TRUE(open("<ImageInfo/>"));
    EXPECT_FALSE(parser.GetImageOrientation(untouched));
    EXPECT_EQ(untouched[0], 9.0f);
    EXPECT_EQ(untouched[5], 9.0f);
}

TEST_F(InfoFile, SliceOrderValues) {
    const struct {
        const char* element;
        int expected;
    } cases[] = {
        {"<SliceOrder>-1</SliceOrder>", -1},
        {"<SliceOrder>0</SliceOrder>", 1},
        {"<SliceOrder>1</SliceOrder>", 1},
        {"<SliceOrder>-7</SliceOrder>", -1},
        {"<SliceOrder>abc</SliceOrder>", 1},
        {"<SliceOrder value=\"-2\"></SliceOrder>", -1},
        {"<SliceOrder VALUE='-2'/>", -1},
        {"<SliceOrder value=\"-2\">3</SliceOrder>", 1},
        {"<SliceOrder/>", 1},
        {"", 1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(open(std::string("<ImageInfo>") + c.element + "</ImageInfo>"));
        EXPECT_EQ(parser.GetSliceOrder(), c.expected) << c.element;
    }
}

TEST_F(InfoFile, UpdateReplacesExistingText) {
    ASSERT_TRUE(
        open("<ImageInfo><SliceOrder>1</SliceOrder><ImageOrientation>0,1,0,0,0,-1"
             "</ImageOrientation></ImageInfo>"));
    const float sagittal[6] = {0, 1, 0, 0, 0, 1};
    parser.UpdateImageOrientation(sagittal);
    parser.UpdateSliceOrder(-1);
    int position = 0;
    EXPECT_FALSE(parser.GetNode().getChildNode("ImageOrientation", &position).isEmpty());
    EXPECT_TRUE(parser.GetNode().getChildNode("ImageOrientation", &position).isEmpty());
    EXPECT_EQ(parser.GetNode().nChildNode(), 2);
    float o[6] = {};
    ASSERT_TRUE(parser.GetImageOrientation(o));
    EXPECT_EQ(o[5], 1.0f);
    EXPECT_EQ(parser.GetSliceOrder(), -1);
}

// --- document structure ----------------------------------------------------------------------

TEST_F(InfoFile, FindsImageInfoBehindDeclarationsAndOtherElements) {
    EXPECT_TRUE(
        open("<?xml version='1.0'?>\n<?style x='1'?>\n<Other/>\n"
             "<ImageInfo><SliceOrder>-1</SliceOrder></ImageInfo>"));
    EXPECT_EQ(parser.GetSliceOrder(), -1);
    EXPECT_TRUE(open("<ImageInfo><SliceOrder>-1</SliceOrder>"));  // left open at the end
    EXPECT_EQ(parser.GetSliceOrder(), -1);
    EXPECT_TRUE(open("<ImageInfo><A><B></ImageInfo>"));  // closes the inner elements too
}

TEST_F(InfoFile, VerbatimSectionsAreNotParsed) {
    ASSERT_TRUE(
        open("<!doctype ImageInfo [ <!ENTITY x \"y\"> ]>\n"
             "<ImageInfo><![CDATA[<SliceOrder>-1</SliceOrder> & stray]]>"
             "<pre><b>&nope;</b></PRE><SliceOrder>-1</SliceOrder></ImageInfo>"));
    EXPECT_EQ(parser.GetSliceOrder(), -1);
    EXPECT_EQ(parser.GetNode().nChildNode(), 1);
    EXPECT_STREQ(parser.GetNode().getClear(0), "<SliceOrder>-1</SliceOrder> & stray");
    EXPECT_EQ(written(), kHead +
                             "<ImageInfo>\n"
                             "\t<![CDATA[<SliceOrder>-1</SliceOrder> & stray]]>\n"
                             "\t<pre><b>&nope;</b></PRE>\n"
                             "\t<SliceOrder>\n\t\t-1\n\t</SliceOrder>\n"
                             "</ImageInfo>\n");
}

// --- malformed input -------------------------------------------------------------------------

TEST_F(InfoFile, MalformedDocumentsLeaveAFreshElement) {
    const std::string deep = "<ImageInfo>" + std::string(5000, '<') + "a>";
    std::string nested = "<ImageInfo>";
    for (int i = 0; i < XMLNode::kMaxDepth + 5; ++i) {
        nested += "<a>";
    }
    const std::string bad[] = {
        "",
        "   \n",
        "<Other><SliceOrder>-1</SliceOrder></Other>",
        "<ImageInfo><SliceOrder>-1</SliceOrder></ImageIn",
        "<ImageInfo><SliceOrder value=\"-1>x</SliceOrder></ImageInfo>",
        "<ImageInfo><SliceOrder value=-1/></ImageInfo>",
        "<ImageInfo><Manufacturer>A &nbsp; B</Manufacturer></ImageInfo>",
        "<ImageInfo><Manufacturer>&#;&#x110;</Manufacturer></ImageInfo>",
        "<ImageInfo><Manufacturer>&#0;</Manufacturer></ImageInfo>",
        "<ImageInfo a='&bogus;'/>",
        "<ImageInfo></Other></ImageInfo>",
        "<ImageInfo><!-- unterminated",
        "<ImageInfo>< >",
        "<ImageInfo><",
        "<ImageInfo",
        deep,
        nested,
    };
    for (const std::string& content : bad) {
        ImageInfoParser reader(write(content).c_str());
        EXPECT_FALSE(parser.Open(dir.file("in.info"))) << content.substr(0, 80);
        EXPECT_STREQ(parser.GetNode().getName(), "ImageInfo");
        EXPECT_EQ(parser.GetNode().nChildNode(), 0);
        EXPECT_EQ(parser.GetSliceOrder(), 1);
    }
    EXPECT_FALSE(parser.Open(dir.file("missing.info")));
}

TEST_F(InfoFile, NestingUpToTheLimitIsRead) {
    std::string nested = "<ImageInfo>";
    for (int i = 1; i < XMLNode::kMaxDepth; ++i) {
        nested += "<a>";
    }
    EXPECT_TRUE(open(nested));
}

// Random byte mutations of a valid file must never crash or hang; under the sanitizer build
// this also checks every index.
TEST_F(InfoFile, MutatedFilesNeverCrash) {
    const std::string valid =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!DOCTYPE x [<!ENTITY a 'b'>]>\n"
        "<ImageInfo k='v'>\n<!-- c -->\n<ImageOrientation>1, 0, 0, 0, 1, 0</ImageOrientation>\n"
        "<SliceOrder value=\"-1\"/>\n<Manufacturer>A&amp;B &#65;</Manufacturer>\n"
        "<![CDATA[x]]><PRE>y</PRE><Script>z</Script>\n</ImageInfo>\n";
    const std::string alphabet = "<>/?!=\"'&;#x[]- \n\tAaZ0\xEF";
    std::mt19937 random(12345);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0:
                    text[at] = c;
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                default:
                    text.erase(at, 1 + random() % 8);
            }
        }
        if (open(text)) {
            ++accepted;
            float o[6];
            parser.GetImageOrientation(o);
            parser.GetSliceOrder();
            parser.GetManufacturer();
            parser.UpdateSliceOrder(-1);
            written();
        } else {
            EXPECT_EQ(parser.GetNode().nChildNode(), 0);
        }
    }
    EXPECT_GT(accepted, 0);
}

// --- XML layer ---------------------------------------------------------------------------------

TEST(XMLNodeHandles, ElementOutlivesItsDocument) {
    XMLNode child;
    {
        XMLNode top = XMLNode::parseString("<a><b x='1'>t</b><c/></a>", "");
        ASSERT_FALSE(top.isEmpty());
        child = top.getChildNode("B");
        EXPECT_FALSE(child.getParentNode().isEmpty());
    }
    EXPECT_TRUE(child.getParentNode().isEmpty());
    EXPECT_STREQ(child.getText(), "t");
    EXPECT_STREQ(child.getAttribute("X"), "1");
    EXPECT_EQ(child.getAttribute("y"), nullptr);
    EXPECT_EQ(child.getText(1), nullptr);
    EXPECT_EQ(child.getText(-1), nullptr);
    EXPECT_EQ(child.createXMLString(false), "<b x=\"1\">t</b>");
}

TEST(XMLNodeHandles, InsertedChildKeepsDocumentOrder) {
    XMLNode top = XMLNode::createXMLTopNode("r");
    top.addChild("one");
    top.addText("text");
    top.addChild("three");
    top.addChild("two", false, 1);
    top.addChild("zero", false, 0);
    EXPECT_EQ(top.createXMLString(false), "<r><zero/><one/>text<two/><three/></r>");
    EXPECT_STREQ(top.getChildNode(2).getName(), "two");
}

TEST(XMLNodeResults, ErrorsCarryPosition) {
    XMLResults results;
    EXPECT_TRUE(XMLNode::parseString("<a>\n  <b x=\"1></a>", "a", &results).isEmpty());
    EXPECT_EQ(results.error, eXMLErrorUnexpectedEnd);
    EXPECT_EQ(results.nLine, 2);
    EXPECT_FALSE(XMLNode::parseString("<a><b>", "a", &results).isEmpty());
    EXPECT_EQ(results.error, eXMLErrorMissingEndTag);
    EXPECT_TRUE(XMLNode::parseString("<a/>", "b", &results).isEmpty());
    EXPECT_EQ(results.error, eXMLErrorFirstTagNotFound);
}

// --- failure reasons ---------------------------------------------------------------------------

TEST_F(InfoFile, SyntaxErrorsGiveLineColumnAndWhatWasWrong) {
    const std::string unquoted = kHead +
                                 "<ImageInfo>\n"
                                 "\t<ImageOrientation>1, 0, 0, 0, 1, 0</ImageOrientation>\n"
                                 "\t<SliceOrder value=-1/>\n"
                                 "</ImageInfo>\n";
    EXPECT_FALSE(open(unquoted));
    EXPECT_EQ(parser.LastError(), "line 4, column 20: the value of attribute value is not in quotes");

    const struct {
        const char* content;
        const char* reason;
    } cases[] = {
        {"<ImageInfo>\n  <Manufacturer>X</Manufactur>\n</ImageInfo>\n",
         "line 2, column 18: end tag </Manufactur> matches no open element"},
        {"<ImageInfo>\n<Manufacturer>A &nbsp; B</Manufacturer>\n</ImageInfo>\n",
         "line 2, column 17: unknown or malformed entity &nbsp;"},
        {"<ImageInfo>\n\n  <!-- note\n", "line 3, column 3: <!-- is never closed by -->"},
        {"<ImageInfo>\n  <SliceOrder value=\"-1/>\n</ImageInfo>\n",
         "line 2, column 21: the value of attribute value has no closing quote"},
        {"<ImageInfo a='x&bogus;'/>",
         "line 1, column 16: unknown or malformed entity &bogus; in attribute a"},
        {"<ImageInfo>< >", "line 1, column 12: tag without a name"},
        {"<ImageInfo></ >", "line 1, column 12: end tag without a name"},
        {"<ImageInfo></ImageInfo x>", "line 1, column 24: unexpected 'x' in end tag </ImageInfo>"},
        {"<ImageInfo =1/>", "line 1, column 12: unexpected '=' in tag <ImageInfo"},
        {"<ImageInfo>\n<SliceOrder", "line 2, column 1: the document ends inside tag <SliceOrder"},
        {"<Other><SliceOrder>-1</SliceOrder></Other>", "no <ImageInfo> element"},
        {"", "the document is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        EXPECT_FALSE(open(c.content));
        EXPECT_EQ(parser.LastError(), c.reason);
    }

    std::string nested = "<ImageInfo>";
    for (int i = 0; i < XMLNode::kMaxDepth + 5; ++i) {
        nested += "<a>";
    }
    EXPECT_FALSE(open(nested));
    // The element that would be the 257th level opens after <ImageInfo> and 255 <a>.
    EXPECT_EQ(parser.LastError(), "line 1, column " + std::to_string(1 + 11 + 3 * 255) +
                                      ": elements nested deeper than 256 levels");

    // A successful open forgets the last reason.
    EXPECT_TRUE(open("<ImageInfo/>"));
    EXPECT_EQ(parser.LastError(), "");
}

TEST_F(InfoFile, UnreadableFilesGiveTheSystemReason) {
    EXPECT_FALSE(parser.Open(dir.file("missing.info")));
    EXPECT_EQ(parser.LastError(), "cannot open: No such file or directory");
    ImageInfoParser fromConstructor(dir.file("missing.info").c_str());
    EXPECT_EQ(fromConstructor.LastError(), "cannot open: No such file or directory");
    const std::string folder = dir.file("folder.info");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(parser.Open(folder));
    EXPECT_EQ(parser.LastError(), "cannot read: Is a directory");

    std::string reason = "untouched";
    EXPECT_FALSE(parser.WriteToFile(dir.file("no/such/folder/x.info"), &reason));
    EXPECT_EQ(reason, "cannot create: No such file or directory");
    EXPECT_TRUE(parser.WriteToFile(dir.file("x.info"), &reason));
    EXPECT_EQ(reason, "");
}

TEST(XMLNodeResults, DescriptionsCarryThePlace) {
    XMLResults results;
    EXPECT_FALSE(XMLNode::parseString("<a>\n <b>", "a", &results).isEmpty());
    EXPECT_EQ(results.error, eXMLErrorMissingEndTag);
    EXPECT_EQ(results.detail, "unclosed tag <b> opened at line 2, column 2");
    EXPECT_EQ(XMLNode::describe(results), "line 2, column 5: unclosed tag <b> opened at line 2, column 2");

    EXPECT_FALSE(XMLNode::parseString("<a/>", "a", &results).isEmpty());
    EXPECT_EQ(results.error, eXMLErrorNone);
    EXPECT_EQ(results.detail, "");
    EXPECT_EQ(XMLNode::describe(results), "");

    EXPECT_TRUE(XMLNode::parseFile("/nonexistent-folder/x.xml", "a", &results).isEmpty());
    EXPECT_EQ(results.error, eXMLErrorFileNotFound);
    EXPECT_EQ(results.nLine, 0);
    EXPECT_EQ(XMLNode::describe(results), "cannot open: No such file or directory");
}

}  // namespace
