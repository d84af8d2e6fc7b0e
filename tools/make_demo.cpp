// make_demo OUTPUT.zrcab: writes the demo film as a package.
#include <QGuiApplication>

#include <cstdio>
#include <exception>
#include <string>

#include "filmwriter/DemoFilm.h"
#include "filmwriter/FilmWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo OUTPUT.zrcab\n");
    return 2;
  }
  const std::string output = argv[1];
  // Drawing needs a QGuiApplication but no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  try {
    const std::vector<TWriterSegment> segments = MakeDemoSegments();
    const std::vector<uint8_t> film = WriteFilm(segments);
    const std::vector<uint8_t> package = MakeFilmPackage(film, TCabCompression::MsZip);
    WriteFileBytes(output, package);
    std::printf("make_demo: %zu segments, film %zu bytes, package %zu bytes: %s\n",
                segments.size(), film.size(), package.size(), output.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_demo: %s\n", e.what());
    return 1;
  }
  return 0;
}
