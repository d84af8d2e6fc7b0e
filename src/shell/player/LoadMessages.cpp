#include "shell/player/LoadMessages.h"

QString Quoted(const std::string& path) { return QStringLiteral("«%1»").arg(QString::fromStdString(path)); }

namespace {

// The message list's "%s" items, with the path in place.
QString WithPath(const QString& pattern, const std::string& path) {
  QString text = pattern;
  return text.replace(QStringLiteral("%s"), QString::fromStdString(path));
}

QString FaultSentence(TFilmErrc fault, const std::string& path) {
  switch (fault) {
    case TFilmErrc::CutShort:
      return QStringLiteral("Файл фильма %1 обрывается: вероятно, он скопирован или скачан не полностью.")
          .arg(Quoted(path));
    case TFilmErrc::NotAFilm:
      return QStringLiteral("Файл %1 не является фильмом.").arg(Quoted(path));
    case TFilmErrc::Io:
      return QStringLiteral("Не удалось прочитать файл %1.").arg(Quoted(path));
    case TFilmErrc::NoMemory:
      return QStringLiteral("Не хватает памяти, чтобы загрузить фильм %1.").arg(Quoted(path));
    case TFilmErrc::Corrupt:
    default:
      break;
  }
  return QStringLiteral("Файл фильма %1 повреждён.").arg(Quoted(path));
}

// The internal message as a box's details: the cabinet component ends its lines with "\r\n",
// shown here with the platform's line break.
QString DetailsText(const std::string& message) {
  return QString::fromStdString(message).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

TUserMessage LoadReportMessage(const TLoadReport& report, const QStringList& lbMessages) {
  TUserMessage m;
  m.Details = DetailsText(report.Details);
  switch (report.Notice) {
    case TLoadNotice::NoSuchFile:
      m.Icon = QMessageBox::Warning;
      m.Text = QStringLiteral("Файл %1 не найден.").arg(Quoted(report.Path));
      m.Details.clear();
      break;
    case TLoadNotice::IsAFolder:
      m.Icon = QMessageBox::Warning;
      m.Text = QStringLiteral("%1 — это папка, а не файл фильма.").arg(Quoted(report.Path));
      break;
    case TLoadNotice::FilmFileBusy:
    case TLoadNotice::ExecutableLocked:
      m.Text = WithPath(lbMessages.value(1), report.Path);
      break;
    case TLoadNotice::CannotCreatePackage:
      m.Text = lbMessages.value(2);
      break;
    case TLoadNotice::FormatNotSupported:
      m.Text = lbMessages.value(3);
      if (!report.Path.empty()) m.Text += QStringLiteral("\n") + QString::fromStdString(report.Path);
      break;
    case TLoadNotice::TemporaryFolder:
      m.Icon = QMessageBox::Critical;
      m.Text = report.Path.empty()
                   ? QStringLiteral("Не удалось создать временную папку для фильмов.")
                   : QStringLiteral("Не удалось записать фильм во временную папку %1.").arg(Quoted(report.Path));
      m.Text += QStringLiteral(" Проверьте свободное место на диске и права на временную папку.");
      break;
    case TLoadNotice::DamagedInPart: {
      // The segments after the damaged one are not read either: "only" says so.
      m.Icon = QMessageBox::Warning;
      // No-break spaces keep "2 из 3" and "с 1 по 4" on one line.
      const QString playable =
          report.Playable == 1 ? QStringLiteral("Будет воспроизведён только первый сегмент.")
                               : QStringLiteral("Будут воспроизведены только сегменты с\u00A01 по\u00A0%1.").arg(report.Playable);
      m.Text = FaultSentence(report.Fault, report.Path) +
               QStringLiteral(" Сегмент %1 из\u00A0%2 прочитать не удалось. ").arg(report.DamagedSegment).arg(report.Total) +
               playable;
      break;
    }
  }
  return m;
}

TUserMessage FilmLoadMessage(const EFilmLoad& failure) {
  TUserMessage m;
  m.Icon = QMessageBox::Critical;
  m.Text = FaultSentence(failure.Fault, failure.Path);
  m.Details = DetailsText(failure.what());
  return m;
}

TUserMessage NoSegmentsMessage(const std::string& path) {
  return {QMessageBox::Warning, QStringLiteral("В фильме %1 нет ни одного сегмента.").arg(Quoted(path)), {}};
}
