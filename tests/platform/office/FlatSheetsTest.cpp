#include <gtest/gtest.h>

#include <QString>
#include <QXmlStreamReader>
#include <map>
#include <string>

#include "FlatSheets.h"

namespace {

using office::detail::FlatSpreadsheet;

constexpr char kOffice[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr char kTable[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr char kStyle[] = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";

// A flat spreadsheet with the given automatic styles; the table prefix is `t` so that nothing
// can lean on the usual "table:". Sheet one holds a chart whose data table is no sheet.
std::string Document(const std::string& styles, const std::string& body = "spreadsheet") {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
             "xmlns:office=\"") +
         kOffice + "\" xmlns:t=\"" + kTable + "\" xmlns:style=\"" + kStyle +
         "\" xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\">" + styles +
         "<office:body><office:" + body +
         ">"
         "<t:table t:name=\"Sales &amp; more\" t:style-name=\"ta1\"><t:table-row><t:table-cell>"
         "<draw:frame><draw:object><office:document><office:body><office:chart>"
         "<t:table t:name=\"local-table\"/></office:chart></office:body></office:document>"
         "</draw:object></draw:frame></t:table-cell></t:table-row></t:table>"
         "<t:table t:style-name=\"ta1\" t:name=\"Zwei > eins\"/>"
         "<t:table t:name=\"Drei\"><t:table-row/></t:table>"
         "</office:" +
         body + "></office:body></office:document>";
}

const std::string kStyles =
    "<office:automatic-styles><style:style style:name=\"ta1\" style:family=\"table\"/>"
    "</office:automatic-styles>";

struct Seen {
  std::vector<std::string> sheetStyles;  // each sheet's table:style-name, "" when none
  bool hiddenStyle = false;              // VellumarkHiddenSheet with display false, in place
  int automaticStyles = 0;
};

Seen Inspect(const std::string& xml) {
  Seen seen;
  QXmlStreamReader r(QString::fromStdString(xml));
  std::vector<std::string> stack;  // namespace#name
  bool inHidden = false;
  const auto attr = [&r](const char* ns, const char* name) {
    return r.attributes().value(QString(ns), QString(name)).toString().toStdString();
  };
  const std::string kAutomatic = std::string(kOffice) + "#automatic-styles";
  while (!r.atEnd()) {
    if (r.readNext() == QXmlStreamReader::StartElement) {
      const std::string name =
          r.namespaceUri().toString().toStdString() + '#' + r.name().toString().toStdString();
      if (name == kAutomatic && stack.size() == 1) ++seen.automaticStyles;
      if (name == std::string(kTable) + "#table" && stack.size() == 3) {
        seen.sheetStyles.push_back(attr(kTable, "style-name"));
      }
      if (name == std::string(kStyle) + "#style" && stack.size() == 2 && stack[1] == kAutomatic &&
          attr(kStyle, "name") == "VellumarkHiddenSheet" && attr(kStyle, "family") == "table") {
        inHidden = true;
      }
      if (inHidden && name == std::string(kStyle) + "#table-properties" &&
          attr(kTable, "display") == "false") {
        seen.hiddenStyle = true;
      }
      stack.push_back(name);
    } else if (r.isEndElement()) {
      stack.pop_back();
      if (stack.size() < 3) inHidden = false;
    }
  }
  EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
  return seen;
}

TEST(FlatSheets, CountsTheSheetsOfTheBodyOnly) {
  const auto flat = FlatSpreadsheet::Parse(Document(kStyles));
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->SheetCount(), 3);
  EXPECT_EQ(flat->SheetName(1), "Sales & more");
  EXPECT_EQ(flat->SheetName(2), "Zwei > eins");
  EXPECT_EQ(flat->SheetName(3), "Drei");
  EXPECT_EQ(flat->SheetName(0), "");
  EXPECT_EQ(flat->SheetName(4), "");
}

TEST(FlatSheets, HidesEverySheetButTheOneAskedFor) {
  const struct {
    const char* name;
    std::string styles;
  } cases[] = {
      {"automatic styles", kStyles},
      {"empty automatic styles", "<office:automatic-styles/>"},
      {"no automatic styles", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto flat = FlatSpreadsheet::Parse(Document(c.styles));
    ASSERT_TRUE(flat);
    const std::vector<std::vector<std::string>> expected = {
        {"ta1", "VellumarkHiddenSheet", "VellumarkHiddenSheet"},
        {"VellumarkHiddenSheet", "ta1", "VellumarkHiddenSheet"},
        {"VellumarkHiddenSheet", "VellumarkHiddenSheet", ""},
    };
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE(n);
      const std::string copy = flat->WithOnlySheet(n);
      const Seen seen = Inspect(copy);
      EXPECT_EQ(seen.sheetStyles, expected[static_cast<std::size_t>(n - 1)]);
      EXPECT_TRUE(seen.hiddenStyle);
      EXPECT_EQ(seen.automaticStyles, 1);
      // The copy is a flat spreadsheet of the same sheets, the chart's table untouched.
      const auto again = FlatSpreadsheet::Parse(copy);
      ASSERT_TRUE(again);
      EXPECT_EQ(again->SheetCount(), 3);
      EXPECT_EQ(again->SheetName(2), "Zwei > eins");
      EXPECT_NE(copy.find("<t:table t:name=\"local-table\"/>"), std::string::npos);
    }
    EXPECT_EQ(flat->WithOnlySheet(0), "");
    EXPECT_EQ(flat->WithOnlySheet(4), "");
  }
}

TEST(FlatSheets, KnowsTheSheetsTheDocumentHides) {
  const auto tableStyle = [](const std::string& family, const std::string& display) {
    return "<style:style style:name=\"ta1\" style:family=\"" + family +
           "\"><style:table-properties t:display=\"" + display + "\"/></style:style>";
  };
  const struct {
    const char* name;
    std::string styles;
    bool hidden;  // sheets one and two, both of style ta1; sheet three has no style
  } cases[] = {
      {"hidden by an automatic style",
       "<office:automatic-styles>" + tableStyle("table", "false") + "</office:automatic-styles>",
       true},
      {"hidden by a common style",
       "<office:styles>" + tableStyle("table", "false") + "</office:styles>", true},
      {"shown",
       "<office:automatic-styles>" + tableStyle("table", "true") + "</office:automatic-styles>",
       false},
      {"a style of another family",
       "<office:automatic-styles>" + tableStyle("table-column", "false") +
           "</office:automatic-styles>",
       false},
      {"no display", kStyles, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto flat = FlatSpreadsheet::Parse(Document(c.styles));
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->SheetHidden(1), c.hidden);
    EXPECT_EQ(flat->SheetHidden(2), c.hidden);
    EXPECT_FALSE(flat->SheetHidden(3));
    EXPECT_FALSE(flat->SheetHidden(0));
    EXPECT_FALSE(flat->SheetHidden(4));
  }
}

// A copy is printed under a temporary name; its file-name fields must show the workbook's.
TEST(FlatSheets, CopiesShowTheWorkbooksNameInTheirFileNameFields) {
  const std::string footer =
      "<office:master-styles><x:p xmlns:x=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
      "[<x:file-name x:display=\"name-and-extension\">old.fods</x:file-name>]"
      "[<x:file-name x:display=\"name\"/>][<x:file-name x:display=\"path\">p</x:file-name>]"
      "[<x:file-name>full</x:file-name>]</x:p></office:master-styles>";
  const std::string document = "/home/ann/Klasse 5a & 5b/Noten #1.xlsx";
  const auto flat = FlatSpreadsheet::Parse(Document(kStyles + footer), document);
  ASSERT_TRUE(flat);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const std::string copy = flat->WithOnlySheet(n);
    ASSERT_TRUE(FlatSpreadsheet::Parse(copy));
    EXPECT_EQ(copy.find("file-name"), std::string::npos);
    EXPECT_NE(copy.find("[Noten #1.xlsx][Noten #1][file:///home/ann/Klasse 5a &amp; 5b/]"
                        "[file:///home/ann/Klasse 5a &amp; 5b/Noten %231.xlsx]"),
              std::string::npos)
        << copy;
  }
  // Without the workbook's path the fields stay as they are.
  const auto unnamed = FlatSpreadsheet::Parse(Document(kStyles + footer));
  ASSERT_TRUE(unnamed);
  EXPECT_NE(unnamed->WithOnlySheet(2).find(footer), std::string::npos);
}

TEST(FlatSheets, RefusesWhatIsNoFlatSpreadsheet) {
  const struct {
    const char* name;
    std::string xml;
  } cases[] = {
      {"text document", Document(kStyles, "text")},
      {"not well-formed", Document(kStyles).substr(0, 400)},
      {"other root", "<office:spreadsheet xmlns:office=\"" + std::string(kOffice) + "\"/>"},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(FlatSpreadsheet::Parse(c.xml));
  }
}

}  // namespace
