// veRirove-thumbnailer: the picture `zrfilm thumbnail` writes, from a program of its own that
// links only what a thumbnail needs (the loader, the playback core, PNG) and nothing of the
// export's video libraries, so that it starts where a file manager's sandbox exposes little
// more than /usr. Same command line as `zrfilm thumbnail`, same exit statuses as zrfilm.
#pragma once

#include <ostream>
#include <string>
#include <vector>

int RunThumbnailer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
