// Cabinets through libgcab: packages and executable films for the tests and the demo.
#include <gio/gio.h>
#include <libgcab.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "filmwriter/FilmWriter.h"

namespace {

struct TGObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using TGObjectPtr = std::unique_ptr<T, TGObjectUnref>;

struct TGBytesUnref {
  void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};
using TGBytesPtr = std::unique_ptr<GBytes, TGBytesUnref>;

struct TGDateTimeUnref {
  void operator()(GDateTime* time) const { g_date_time_unref(time); }
};
using TGDateTimePtr = std::unique_ptr<GDateTime, TGDateTimeUnref>;

struct TGErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using TGErrorPtr = std::unique_ptr<GError, TGErrorFree>;

// Throws with libgcab's message; takes ownership of the error.
[[noreturn]] void Fail(const std::string& operation, GError* error) {
  TGErrorPtr owned(error);
  throw std::runtime_error(operation + ": " +
                           (owned ? owned->message : "libgcab failed without a message"));
}

std::vector<uint8_t> CopyBytes(GBytes* bytes) {
  if (bytes == nullptr) return {};
  gsize size = 0;
  const auto* data = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &size));
  return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>{};
}

constexpr const char* kFilmFileName = "MyFilm.~zrflm";

}  // namespace

std::vector<uint8_t> MakeCabinet(std::span<const TCabFile> files, TCabCompression compression) {
  TGObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
  TGObjectPtr<GCabFolder> folder(gcab_folder_new(
      compression == TCabCompression::MsZip ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE));
  // A fixed time stamp keeps the output the same from run to run.
  TGDateTimePtr stamp(g_date_time_new_utc(2008, 6, 1, 12, 0, 0));

  for (const TCabFile& file : files) {
    TGBytesPtr bytes(g_bytes_new(file.Bytes.data(), file.Bytes.size()));
    TGObjectPtr<GCabFile> cabFile(gcab_file_new_with_bytes(file.Name.c_str(), bytes.get()));
    gcab_file_set_date_time(cabFile.get(), stamp.get());
    gcab_file_set_attributes(cabFile.get(), GCAB_FILE_ATTRIBUTE_ARCH);
    GError* error = nullptr;
    if (!gcab_folder_add_file(folder.get(), cabFile.get(), FALSE, nullptr, &error)) {
      Fail("MakeCabinet: adding " + file.Name, error);
    }
  }

  GError* error = nullptr;
  if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &error)) {
    Fail("MakeCabinet: adding the folder", error);
  }
  TGObjectPtr<GOutputStream> stream(g_memory_output_stream_new_resizable());
  if (!gcab_cabinet_write_simple(cabinet.get(), stream.get(), nullptr, nullptr, nullptr, &error)) {
    Fail("MakeCabinet: writing", error);
  }
  if (!g_output_stream_close(stream.get(), nullptr, &error)) Fail("MakeCabinet: closing", error);

  auto* memory = G_MEMORY_OUTPUT_STREAM(stream.get());
  const auto* data = static_cast<const uint8_t*>(g_memory_output_stream_get_data(memory));
  return std::vector<uint8_t>(data, data + g_memory_output_stream_get_data_size(memory));
}

std::vector<uint8_t> MakeFilmPackage(std::span<const uint8_t> film, TCabCompression compression) {
  const TCabFile file{kFilmFileName, std::vector<uint8_t>(film.begin(), film.end())};
  return MakeCabinet(std::span(&file, 1), compression);
}

std::vector<uint8_t> MakeExecutableFilm(std::span<const uint8_t> prefix,
                                        std::span<const uint8_t> package,
                                        std::optional<int32_t> lengthOverride) {
  if (!lengthOverride && package.size() > size_t(std::numeric_limits<int32_t>::max())) {
    throw std::invalid_argument("MakeExecutableFilm: package does not fit an int32 length");
  }
  TByteWriter out;
  out.Bytes(prefix).Bytes(package);
  out.I32(lengthOverride.value_or(int32_t(package.size())));
  return out.Take();
}

std::vector<TCabFile> ReadCabinet(std::span<const uint8_t> cabinet) {
  TGBytesPtr bytes(g_bytes_new(cabinet.data(), cabinet.size()));
  TGObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes.get()));
  TGObjectPtr<GCabCabinet> cab(gcab_cabinet_new());
  GError* error = nullptr;
  if (!gcab_cabinet_load(cab.get(), stream.get(), nullptr, &error)) {
    Fail("ReadCabinet: loading", error);
  }
  // Without a target folder libgcab extracts into memory, onto each file's bytes.
  if (!gcab_cabinet_extract(cab.get(), nullptr, nullptr, nullptr, nullptr, nullptr, &error)) {
    Fail("ReadCabinet: extracting", error);
  }

  std::vector<TCabFile> files;
  GPtrArray* folders = gcab_cabinet_get_folders(cab.get());
  for (guint i = 0; i < folders->len; ++i) {
    auto* folder = static_cast<GCabFolder*>(g_ptr_array_index(folders, i));
    GSList* list = gcab_folder_get_files(folder);
    for (GSList* item = list; item != nullptr; item = item->next) {
      auto* file = static_cast<GCabFile*>(item->data);
      GBytes* content = gcab_file_get_bytes(file);
      files.push_back({gcab_file_get_name(file), CopyBytes(content)});
    }
    g_slist_free(list);
  }
  return files;
}
