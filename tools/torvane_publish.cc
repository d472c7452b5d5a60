// torvane-publish: turns a directory of game files into what the update
// server serves. It writes the remote manifest DIR/NAME, one zlib (or gzip)
// stream that lists every regular file under DIR as
//
//   <SHA-256 of the file, 64 lower-case hex digits> <size> <name>
//
// in byte-wise order of the names, "/" between directories. Any static
// HTTP server that serves DIR under the launcher's root path is then an
// update server.
//
// The manifest starts with release declarations, comment lines that older
// launchers skip: the hash tokens are SHA-256, the release serial (the
// publish time unless --serial gives one; it must only grow from release to
// release), and with --expires the time after which the release is no
// longer valid.
//
// With --sign KEYFILE it also writes NAME.sig, the ECDSA P-256 signature of
// the manifest file's exact bytes as they were written (never read back),
// which a launcher built with the key's public half requires. --make-key KEYFILE makes such a key pair.
//
// Usage: torvane-publish [--manifest NAME] [--gzip] [--serial N] [--expires DAYS]
//                        [--sign KEYFILE] DIR
//        torvane-publish --make-key KEYFILE
// Exit codes: 0 published (or key made), 1 the release was refused or could
// not be written (no manifest is written then) or no key could be made, 2
// bad usage.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/console.h"
#include "tools/compressed_writer.h"
#include "tools/file_digest.h"
#include "support/memory_wipe.h"
#include "tools/release_key_file.h"
#include "tools/release_listing.h"
#include "updater/printable_name.h"
#include "updater/release_declarations.h"
#include "updater/release_signature.h"

namespace {

constexpr int EXIT_PUBLISHED = 0;
constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

constexpr char DEFAULT_MANIFEST_NAME[] = "manifest.lst.z";
// An escaped byte takes up to four characters ("\x1b").
constexpr size_t PRINTABLE_BYTES_PER_BYTE = 4;

constexpr int64_t SECONDS_PER_DAY = 86400;
// Days a release may be declared valid for: about a century.
constexpr uint64_t MAX_EXPIRY_DAYS = 36500;

struct publish_options {
  std::string directory;
  std::string manifest_name = DEFAULT_MANIFEST_NAME;
  compression_format format = compression_format::zlib;
  bool serial_given = false;
  uint64_t serial = 0;
  bool expires = false;
  uint64_t expiry_days = 0;
  std::string signing_key;  // key file for --sign, or empty
  std::string new_key;      // key file for --make-key, or empty
};

// A refused name may hold line feeds and other control characters: the
// report shows them escaped, so that each refusal stays on one line.
std::string printable(const std::string &name) {
  qarn_heap_bounded_string shown(static_cast<int32_t>(name.size() * PRINTABLE_BYTES_PER_BYTE));
  ovu_append_printable_name(shown, name.c_str());
  return shown.text();
}

void print_usage() {
  std::fprintf(stderr,
               "Usage: torvane-publish [--manifest NAME] [--gzip] [--serial N] [--expires DAYS] DIR\n"
               "Writes DIR/NAME (default %s), the compressed list of every file under DIR\n"
               "with its SHA-256 and size, for the update server to serve beside the files.\n"
               "  --gzip          a gzip stream instead of a zlib one\n"
               "  --serial N      the release serial (default: the publish time); it must\n"
               "                  grow from release to release\n"
               "  --expires DAYS  the release is no longer valid DAYS days from now\n"
               "  --sign KEYFILE  also write NAME.sig, the manifest's signature with the key\n"
               "Usage: torvane-publish --make-key KEYFILE\n"
               "Makes a release key pair: KEYFILE (keep it secret) and KEYFILE.pub, the\n"
               "public key to build the launcher with (TORVANE_RELEASE_KEY).\n",
               DEFAULT_MANIFEST_NAME);
}

bool parse_arguments(int argc, char **argv, publish_options *options) {
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    if (argument == "--manifest" && i + 1 < argc) {
      options->manifest_name = argv[++i];
    } else if (argument == "--gzip") {
      options->format = compression_format::gzip;
    } else if (argument == "--serial" && i + 1 < argc) {
      options->serial_given = parse_release_number(argv[++i], &options->serial) != 0;
      if (!options->serial_given) {
        return false;
      }
    } else if (argument == "--expires" && i + 1 < argc) {
      options->expires = parse_release_number(argv[++i], &options->expiry_days) != 0;
      if (!options->expires || options->expiry_days > MAX_EXPIRY_DAYS) {
        return false;
      }
    } else if (argument == "--sign" && i + 1 < argc) {
      options->signing_key = argv[++i];
    } else if (argument == "--make-key" && i + 1 < argc && argc == 3) {
      options->new_key = argv[++i];
      return true;
    } else if (!argument.empty() && argument[0] != '-' && options->directory.empty()) {
      options->directory = argument;
    } else {
      return false;
    }
  }
  // The manifest lies in DIR, under a name the launcher can request.
  return !options->directory.empty() && options->new_key.empty() && !options->manifest_name.empty() &&
         release_name_problem(options->manifest_name, 0).empty();
}

// Shows which file is being hashed, on one line that each file rewrites.
class progress_line {
 public:
  progress_line() : shown_(platform_stderr_is_terminal() != 0) {}
  void show(size_t index, size_t count, const std::string &name) {
    if (shown_) {
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", index + 1, count, name.c_str());
      std::fflush(stderr);
    }
  }
  void end() {
    if (shown_) {
      std::fprintf(stderr, "\r\033[K");
      std::fflush(stderr);
    }
  }

 private:
  bool shown_;
};

// The declarations that open the manifest.
std::string declarations_of(const publish_options &options, int64_t now) {
  uint64_t serial = options.serial_given ? options.serial : static_cast<uint64_t>(now);
  std::string text = std::string(OVU_HASH_DECLARATION) + "\n" + OVU_SERIAL_DECLARATION + std::to_string(serial) + "\n";
  if (options.expires) {
    int64_t expires = now + static_cast<int64_t>(options.expiry_days) * SECONDS_PER_DAY;
    text += OVU_EXPIRES_DECLARATION + std::to_string(expires) + "\n";
  }
  return text;
}

// Hashes every file and writes its line. A file that changed size since
// it was listed would be published with the wrong size.
bool write_manifest_lines(const publish_options &options, const release_listing &listing,
                          compressed_writer &writer, std::string *why) {
  progress_line progress;
  for (size_t i = 0; i < listing.files.size(); i++) {
    const release_file &file = listing.files[i];
    progress.show(i, listing.files.size(), file.name);
    std::string hex;
    uint64_t size = 0;
    std::string reason;
    if (!digest_file(options.directory + "/" + file.name, &hex, &size, &reason)) {
      progress.end();
      *why = "'" + file.name + "': " + reason;
      return false;
    }
    if (size != file.size) {
      progress.end();
      *why = "'" + file.name + "' changed while it was read";
      return false;
    }
    std::string line = hex + " " + std::to_string(size) + " " + file.name + "\n";
    if (!writer.write(line.data(), line.size(), why)) {
      progress.end();
      return false;
    }
  }
  progress.end();
  return true;
}

int make_key(const std::string &path) {
  std::string public_hex;
  std::string why;
  if (!make_release_key(path, &public_hex, &why)) {
    std::fprintf(stderr, "torvane-publish: %s\n", why.c_str());
    return EXIT_REFUSED;
  }
  std::printf("torvane-publish: release key written to %s (keep it secret); its public key, in %s.pub:\n%s\n",
              path.c_str(), path.c_str(), public_hex.c_str());
  return EXIT_PUBLISHED;
}

int publish(const publish_options &options) {
  release_key_pair key;
  std::string why;
  if (!options.signing_key.empty() && !read_release_key(options.signing_key, &key, &why)) {
    std::fprintf(stderr, "torvane-publish: %s\n", why.c_str());
    return EXIT_REFUSED;
  }
  // The manifest and its signature are written under temporary names
  // first; none of them is listed.
  const std::string &name = options.manifest_name;
  const std::string signature_name = name + OVU_SIGNATURE_SUFFIX;
  release_listing listing = list_release(options.directory, {name, name + QARN_ATOMIC_FILE_SUFFIX, signature_name,
                                                             signature_name + QARN_ATOMIC_FILE_SUFFIX});
  if (!listing.error.empty()) {
    std::fprintf(stderr, "torvane-publish: %s\n", listing.error.c_str());
    return EXIT_REFUSED;
  }
  if (!listing.problems.empty()) {
    for (const release_problem &problem : listing.problems) {
      std::fprintf(stderr, "torvane-publish: cannot publish '%s': %s\n", printable(problem.name).c_str(),
                   problem.reason.c_str());
    }
    std::fprintf(stderr, "torvane-publish: release refused, no manifest written\n");
    return EXIT_REFUSED;
  }
  compressed_writer writer;
  const std::string manifest_path = options.directory + "/" + options.manifest_name;
  const std::string declarations = declarations_of(options, static_cast<int64_t>(std::time(nullptr)));
  if (!writer.open(manifest_path, options.format, &why) ||
      !writer.write(declarations.data(), declarations.size(), &why) ||
      !write_manifest_lines(options, listing, writer, &why) || !writer.finish(&why)) {
    std::fprintf(stderr, "torvane-publish: %s; no manifest written\n", why.c_str());
    return EXIT_REFUSED;
  }
  if (!options.signing_key.empty()) {
    bool signed_ok = sign_manifest(manifest_path, writer.written_digest(), key, &why);
    qarn_wipe_bytes(&key, sizeof(key));
    if (!signed_ok) {
      std::fprintf(stderr, "torvane-publish: %s; the manifest is written but not signed\n", why.c_str());
      return EXIT_REFUSED;
    }
  }
  uint64_t bytes = 0;
  for (const release_file &file : listing.files) {
    bytes += file.size;
  }
  std::printf("torvane-publish: %zu files, %llu bytes, listed in %s\n", listing.files.size(),
              static_cast<unsigned long long>(bytes), manifest_path.c_str());
  return EXIT_PUBLISHED;
}

}  // namespace

int main(int argc, char **argv) {
  publish_options options;
  // Paths are UTF-8, as the names in the release are.
  if (!parse_arguments(argc, platform_utf8_arguments(argc, argv), &options)) {
    print_usage();
    return EXIT_USAGE;
  }
  return options.new_key.empty() ? publish(options) : make_key(options.new_key);
}
