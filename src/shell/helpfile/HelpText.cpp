#include "shell/helpfile/HelpText.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <string_view>

#include "io/Cp1251.h"

namespace {

// The five entities the sitemap files use, and numeric ones.
QString DecodeEntities(const QString& text) {
  if (!text.contains(QLatin1Char('&'))) return text;
  static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);"));
  QString out;
  qsizetype last = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(last, m.capturedStart() - last);
    const QString name = m.captured(1);
    QString replacement = m.captured(0);
    if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('#'))) {
      bool ok = false;
      const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                 : name.mid(1).toUInt(&ok, 10);
      if (ok && code > 0 && code <= 0x10FFFF) {
        const char32_t c = code;
        replacement = QString::fromUcs4(&c, 1);
      }
    } else if (name == QLatin1String("amp")) {
      replacement = QStringLiteral("&");
    } else if (name == QLatin1String("lt")) {
      replacement = QStringLiteral("<");
    } else if (name == QLatin1String("gt")) {
      replacement = QStringLiteral(">");
    } else if (name == QLatin1String("quot")) {
      replacement = QStringLiteral("\"");
    } else if (name == QLatin1String("apos")) {
      replacement = QStringLiteral("'");
    } else if (name == QLatin1String("nbsp")) {
      replacement = QString(QChar(0xA0));
    }
    out += replacement;
    last = m.capturedEnd();
  }
  return out + text.mid(last);
}

}  // namespace

QString ObjectPath(QString topic) {
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  if (hash >= 0) topic.truncate(hash);
  topic.replace(QLatin1Char('\\'), QLatin1Char('/'));
  while (topic.startsWith(QLatin1Char('/'))) topic.remove(0, 1);
  return QLatin1Char('/') + topic;
}

QList<THelpContentsItem> ParseSitemap(const QString& text) {
  static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*(ul|object|param)\\b([^>]*)>"),
                                      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression attribute(
      QStringLiteral("([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
  QList<THelpContentsItem> items;
  int depth = 0;
  bool inItem = false;
  THelpContentsItem item;
  for (auto it = tag.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    const bool closing = !m.captured(1).isEmpty();
    const QString name = m.captured(2).toLower();
    QString paramName, paramValue, type;
    for (auto a = attribute.globalMatch(m.captured(3)); a.hasNext();) {
      const QRegularExpressionMatch am = a.next();
      const QString key = am.captured(1).toLower();
      const QString value = DecodeEntities(am.captured(2) + am.captured(3) + am.captured(4));
      if (key == QLatin1String("name")) paramName = value.toLower();
      if (key == QLatin1String("value")) paramValue = value;
      if (key == QLatin1String("type")) type = value.toLower();
    }
    if (name == QLatin1String("ul")) {
      depth = closing ? qMax(0, depth - 1) : depth + 1;
    } else if (name == QLatin1String("object")) {
      if (!closing) {
        inItem = type == QLatin1String("text/sitemap");
        item = THelpContentsItem{};
        item.Level = qMax(0, depth - 1);
      } else if (inItem) {
        inItem = false;
        if (!item.Name.isEmpty()) items.append(item);
      }
    } else if (inItem) {  // <param>
      // An item may name several topics; the first "Name" and "Local" count.
      if (paramName == QLatin1String("name") && item.Name.isEmpty()) item.Name = paramValue.trimmed();
      if (paramName == QLatin1String("local") && item.Local.isEmpty()) item.Local = paramValue.trimmed();
    }
  }
  return items;
}


// A file cut short can still list its topics; their pages then read as zeros, which no page
// in a single-byte charset or UTF-8 holds.
bool Garbled(const QByteArray& page) {
  const bool utf16 = page.startsWith("\xFF\xFE") || page.startsWith("\xFE\xFF");
  return !utf16 && page.contains('\0');
}

THelpLocation ResolveHelpLocation(const QString& location) {
  THelpLocation where;
  QString rest = location;
  for (const QLatin1String prefix : {QLatin1String("mk:@MSITStore:"), QLatin1String("ms-its:")}) {
    if (rest.startsWith(prefix, Qt::CaseInsensitive)) {
      rest.remove(0, prefix.size());
      break;
    }
  }
  const qsizetype separator = rest.lastIndexOf(QLatin1String("::/"));
  if (separator < 0) {
    if (rest.endsWith(QLatin1String("::"))) rest.chop(2);
    where.File = rest;
    return where;
  }
  where.File = rest.left(separator);
  QString topic = rest.mid(separator + 3);
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  if (hash >= 0) {
    where.Anchor = topic.mid(hash + 1);
    topic.truncate(hash);
  }
  where.Topic = ObjectPath(topic).mid(1);
  return where;
}

QString DecodeHelpText(const QByteArray& bytes) {
  // A charset the text names itself (meta tag or byte order mark) and Qt knows.
  QStringDecoder declared = QStringDecoder::decoderForHtml(bytes);
  if (declared.isValid()) {
    const QString text = declared.decode(bytes);
    if (!declared.hasError()) return text;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  return QString::fromStdString(Cp1251ToUtf8(std::string_view(bytes.constData(), size_t(bytes.size()))));
}
