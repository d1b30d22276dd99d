#include "FlatSheets.h"

#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <set>
#include <vector>

namespace office::detail {
namespace {

const QString kOfficeNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString kTableNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString kStyleNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:style:1.0");
const QString kTextNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");
const QString kHiddenStyle = QStringLiteral("VellumarkHiddenSheet");

// Prefixes of our own, declared where they are used, so that the edits never depend on the
// prefixes the document happens to use.
QString HiddenStyleElement() {
  return QStringLiteral("<vms:style xmlns:vms=\"") + kStyleNs + QStringLiteral("\" xmlns:vmt=\"") +
         kTableNs + QStringLiteral("\" vms:name=\"") + kHiddenStyle +
         QStringLiteral(
             "\" vms:family=\"table\"><vms:table-properties vmt:display=\"false\"/>"
             "</vms:style>");
}

bool IsSpace(QChar c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

struct Sheet {
  qsizetype tagBegin = 0;  // the start tag: [tagBegin, tagEnd)
  qsizetype tagEnd = 0;
  QString name;
  QString styleAttribute;  // the qualified name of its table:style-name, or empty
  QString style;           // that attribute's value
};

struct Edit {
  qsizetype at;
  qsizetype length;
  QString text;
};

// The document's location as Calc shows it in a field: a file URL, decoded but for the
// characters that would change what it names.
QString ShownUrl(const QString& path) {
  QString url = QStringLiteral("file://");
  for (const QChar c : path) {
    if (c == u'%') {
      url += QStringLiteral("%25");
    } else if (c == u'#') {
      url += QStringLiteral("%23");
    } else if (c == u'?') {
      url += QStringLiteral("%3F");
    } else {
      url += c;
    }
  }
  return url;
}

// What a file-name field with the given text:display shows for the document at `path`.
QString FileNameText(const QString& path, QStringView display) {
  const qsizetype slash = path.lastIndexOf(u'/');
  const QString folder = path.left(slash + 1);
  const QString name = path.mid(slash + 1);
  if (display == u"name-and-extension") return name;
  if (display == u"name") {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
  }
  if (display == u"path") return ShownUrl(folder);
  return ShownUrl(path);  // "full", also when no display is given
}

// The start tag with its style attribute dropped and the hidden style named instead.
QString HiddenTag(const QString& tag, const QString& styleAttribute) {
  QString out;
  qsizetype i = 1;
  while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != u'/' && tag[i] != u'>') ++i;
  out += tag.left(i);
  for (;;) {
    const qsizetype attrStart = i;
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (i >= tag.size() || tag[i] == u'/' || tag[i] == u'>') {
      i = attrStart;
      break;
    }
    const qsizetype nameStart = i;
    while (i < tag.size() && tag[i] != u'=' && !IsSpace(tag[i])) ++i;
    const QString name = tag.mid(nameStart, i - nameStart);
    while (i < tag.size() && tag[i] != u'"' && tag[i] != u'\'') ++i;
    if (i >= tag.size()) return {};
    const QChar quote = tag[i];
    const qsizetype close = tag.indexOf(quote, i + 1);
    if (close < 0) return {};
    i = close + 1;
    if (name != styleAttribute) out += tag.mid(attrStart, i - attrStart);
  }
  out += QStringLiteral(" xmlns:vmt=\"") + kTableNs + QStringLiteral("\" vmt:style-name=\"") +
         kHiddenStyle + QStringLiteral("\"");
  out += tag.mid(i);
  return out;
}

}  // namespace

struct FlatSpreadsheet::Impl {
  QString text;
  std::vector<Sheet> sheets;
  // Where the hidden style goes: before the end tag of the document's automatic styles, in
  // place of an empty automatic-styles element, or as a new element before the body.
  enum class Styles { EndTag, Empty, Missing } styles = Styles::Missing;
  qsizetype stylesAt = 0;
  qsizetype stylesLength = 0;
  QString stylesName;
  std::set<QString> hiddenStyles;  // table styles that hide their sheet
  std::vector<Edit> fileNames;     // each file-name field and the text it shows
};

FlatSpreadsheet::FlatSpreadsheet(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FlatSpreadsheet::~FlatSpreadsheet() = default;

std::unique_ptr<FlatSpreadsheet> FlatSpreadsheet::Parse(const std::string& xml,
                                                        const std::string& document) {
  auto impl = std::make_unique<Impl>();
  const QString documentPath = QString::fromStdString(document);
  impl->text = QString::fromUtf8(xml.data(), static_cast<qsizetype>(xml.size()));
  const QString& text = impl->text;
  QXmlStreamReader reader(text);
  struct Open {
    QString ns;
    QString name;
  };
  std::vector<Open> stack;
  bool spreadsheet = false;
  qsizetype bodyStart = -1;
  QString tableStyle;  // the table style being read, if any
  while (!reader.atEnd()) {
    const QXmlStreamReader::TokenType token = reader.readNext();
    const qsizetype offset = reader.characterOffset();
    // A tag never holds a raw "<": the last one before the tag's end is its start.
    const qsizetype tagStart = offset > 0 ? text.lastIndexOf(u'<', offset - 1) : -1;
    if (token == QXmlStreamReader::StartElement) {
      const QString ns = reader.namespaceUri().toString();
      const QString name = reader.name().toString();
      const std::size_t depth = stack.size();
      const auto parentIs = [&](std::size_t level, const QString& n) {
        return stack.size() > level && stack[level].ns == kOfficeNs && stack[level].name == n;
      };
      if (depth == 0 && (ns != kOfficeNs || name != u"document")) return nullptr;
      if (depth == 1 && ns == kOfficeNs && name == u"automatic-styles") {
        impl->stylesName = reader.qualifiedName().toString();
        impl->styles = Impl::Styles::Empty;
        impl->stylesAt = tagStart;
        impl->stylesLength = offset - tagStart;
      }
      if (depth == 1 && ns == kOfficeNs && name == u"body" && bodyStart < 0) bodyStart = tagStart;
      if (depth == 2 && (parentIs(1, QStringLiteral("automatic-styles")) ||
                         parentIs(1, QStringLiteral("styles")))) {
        tableStyle.clear();
        if (ns == kStyleNs && name == u"style" &&
            reader.attributes().value(kStyleNs, QStringLiteral("family")) == u"table") {
          tableStyle = reader.attributes().value(kStyleNs, QStringLiteral("name")).toString();
        }
      }
      if (depth == 3 && !tableStyle.isEmpty() && ns == kStyleNs && name == u"table-properties" &&
          reader.attributes().value(kTableNs, QStringLiteral("display")) == u"false") {
        impl->hiddenStyles.insert(tableStyle);
      }
      if (depth == 2 && parentIs(1, QStringLiteral("body")) && ns == kOfficeNs &&
          name == u"spreadsheet") {
        spreadsheet = true;
      }
      if (depth == 3 && parentIs(1, QStringLiteral("body")) &&
          parentIs(2, QStringLiteral("spreadsheet")) && ns == kTableNs && name == u"table") {
        Sheet sheet;
        sheet.tagBegin = tagStart;
        sheet.tagEnd = offset;
        for (const QXmlStreamAttribute& a : reader.attributes()) {
          if (a.namespaceUri() != kTableNs) continue;
          if (a.name() == u"name") sheet.name = a.value().toString();
          if (a.name() == u"style-name") {
            sheet.styleAttribute = a.qualifiedName().toString();
            sheet.style = a.value().toString();
          }
        }
        if (tagStart < 0) return nullptr;
        impl->sheets.push_back(std::move(sheet));
      }
      if (!documentPath.isEmpty() && ns == kTextNs && name == u"file-name") {
        if (tagStart < 0) return nullptr;
        const QString shown = FileNameText(
            documentPath, reader.attributes().value(kTextNs, QStringLiteral("display")));
        impl->fileNames.push_back({tagStart, 0, shown.toHtmlEscaped()});
      }
      stack.push_back({ns, name});
    } else if (token == QXmlStreamReader::EndElement) {
      // The field ends with its end tag (or with its start tag, when that closes itself).
      if (!documentPath.isEmpty() && reader.namespaceUri() == kTextNs &&
          reader.name() == u"file-name") {
        Edit& field = impl->fileNames.back();
        field.length = offset - field.at;
      }
      if (stack.size() == 2 && stack[1].ns == kOfficeNs && stack[1].name == u"automatic-styles" &&
          tagStart >= 0 && tagStart + 1 < text.size() && text[tagStart + 1] == u'/') {
        impl->styles = Impl::Styles::EndTag;
        impl->stylesAt = tagStart;
        impl->stylesLength = 0;
      }
      if (!stack.empty()) stack.pop_back();
    }
  }
  if (reader.hasError() || !spreadsheet || bodyStart < 0) return nullptr;
  if (impl->styles == Impl::Styles::Missing) impl->stylesAt = bodyStart;
  return std::unique_ptr<FlatSpreadsheet>(new FlatSpreadsheet(std::move(impl)));
}

int FlatSpreadsheet::SheetCount() const {
  return static_cast<int>(impl_->sheets.size());
}

std::string FlatSpreadsheet::SheetName(int n) const {
  if (n < 1 || n > SheetCount()) return {};
  return impl_->sheets[static_cast<std::size_t>(n - 1)].name.toStdString();
}

bool FlatSpreadsheet::SheetHidden(int n) const {
  if (n < 1 || n > SheetCount()) return false;
  const Sheet& sheet = impl_->sheets[static_cast<std::size_t>(n - 1)];
  return !sheet.styleAttribute.isEmpty() && impl_->hiddenStyles.count(sheet.style) > 0;
}

std::string FlatSpreadsheet::WithOnlySheet(int n) const {
  if (n < 1 || n > SheetCount()) return {};
  const QString& text = impl_->text;
  std::vector<Edit> edits;
  switch (impl_->styles) {
    case Impl::Styles::EndTag:
      edits.push_back({impl_->stylesAt, 0, HiddenStyleElement()});
      break;
    case Impl::Styles::Empty:
      edits.push_back({impl_->stylesAt, impl_->stylesLength,
                       QStringLiteral("<") + impl_->stylesName + QStringLiteral(">") +
                           HiddenStyleElement() + QStringLiteral("</") + impl_->stylesName +
                           QStringLiteral(">")});
      break;
    case Impl::Styles::Missing:
      edits.push_back({impl_->stylesAt, 0,
                       QStringLiteral("<vmo:automatic-styles xmlns:vmo=\"") + kOfficeNs +
                           QStringLiteral("\">") + HiddenStyleElement() +
                           QStringLiteral("</vmo:automatic-styles>")});
      break;
  }
  edits.insert(edits.end(), impl_->fileNames.begin(), impl_->fileNames.end());
  for (std::size_t i = 0; i < impl_->sheets.size(); ++i) {
    if (static_cast<int>(i) + 1 == n) continue;
    const Sheet& s = impl_->sheets[i];
    const QString tag = HiddenTag(text.mid(s.tagBegin, s.tagEnd - s.tagBegin), s.styleAttribute);
    if (tag.isEmpty()) return {};
    edits.push_back({s.tagBegin, s.tagEnd - s.tagBegin, tag});
  }
  // From the back, so that the earlier positions stay valid.
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
  QString out = text;
  for (const Edit& e : edits) out.replace(e.at, e.length, e.text);
  const QByteArray utf8 = out.toUtf8();
  return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

}  // namespace office::detail
