// Downloads of files whose size and SHA-256 were published, resumed where
// a broken earlier try left off. The bytes of a broken download of a file
// with a slot in the store of partial files (ovu_partial_downloads) go
// there; the next try continues that partial file, asking for the rest
// only, and the hash covers the kept bytes first. Kept bytes that turn
// out wrong, or a server that will not give the rest, cost one download of
// the whole file more, within the same try. A whole file leaves the store
// for the temporary file, from where it is put in place as any other.
#include <cinttypes>

#include "http/http_downloader.h"
#include "http/verified_body.h"
#include "support/bounded_string.h"
#include "support/file_system.h"
#include "updater/updater.h"

namespace {

// fetch_verified's outcome beside 1 (arrived) and 0 (failed): failed, and
// what the file held is known wrong: bytes that the check refused, or a
// resume that the server refused.
constexpr int FETCH_REFUSED = -1;

}  // namespace

int ovu_updater::download_verified(qarn_http_downloader &downloader, const char *host, const char *root_path,
                                   const ovu_manifest_entry *entry, const unsigned char *digest,
                                   const char *temporary_path) {
  int32_t slot = partials_.slot_of(entry);
  if (slot < 0) {
    return fetch_verified(downloader, host, root_path, entry, digest, temporary_path, 0, 0) == 1 ? 1 : 0;
  }
  qarn_bounded_string partial_path;
  partials_.append_partial_path(slot, partial_path);
  int64_t kept = partial_path.is_full() ? 0 : partials_.kept_length(slot);
  qarn_bounded_string message;
  if (kept > 0) {
    message.append("Resuming download of file '").append(entry->name);
    message.append_format("' at byte %" PRId64 ".", kept);
    say_verbose(message.text());
    int resumed = fetch_verified(downloader, host, root_path, entry, digest, partial_path.text(), kept, 1);
    if (resumed == 1) {
      return take_completed_partial(slot, partial_path.text(), temporary_path);
    }
    if (resumed == 0) {
      return 0;  // a broken resume keeps its grown partial file
    }
    partials_.drop(slot);
    message.assign("Fetching file '").append(entry->name).append("' whole.");
    say_verbose(message.text());
  }
  if (fetch_verified(downloader, host, root_path, entry, digest, temporary_path, 0, 1) == 1) {
    return 1;
  }
  if (downloader.partial_length() > 0) {
    partials_.keep(slot, temporary_path);
  }
  return 0;
}

// fetch_verified downloads the file of |entry| into |destination|, judged
// against its published size and |digest|; from byte |resume_offset| on
// when that is above 0, and keeping a broken download's bytes when
// |keep_partial| is set. Returns 1, 0 or FETCH_REFUSED. The player hears of
// refused bytes, except of a resume's: those are fetched whole again.
int ovu_updater::fetch_verified(qarn_http_downloader &downloader, const char *host, const char *root_path,
                                const ovu_manifest_entry *entry, const unsigned char *digest,
                                const char *destination, int64_t resume_offset, int keep_partial) {
  qarn_verified_body check(entry->size, digest);
  downloader.resume_offset = resume_offset;
  downloader.resource_length = keep_partial ? entry->size : QARN_DOWNLOAD_LENGTH_UNKNOWN;
  downloader.keep_partial_file = keep_partial;
  int downloaded = download_file(downloader, host, root_path, entry->name, destination, &check);
  int resume_refused = downloader.resume_refused();
  downloader.resume_offset = 0;
  downloader.resource_length = QARN_DOWNLOAD_LENGTH_UNKNOWN;
  downloader.keep_partial_file = 0;
  if (downloaded) {
    return 1;
  }
  qarn_body_verdict verdict = check.verdict();
  bool refused_bytes = verdict != QARN_BODY_UNDECIDED && verdict != QARN_BODY_MATCHES;
  qarn_bounded_string message;
  if (refused_bytes) {
    message.append(resume_offset > 0 ? "Resumed download of file '" : "File '").append(entry->name);
    message.append("' failed verification: ").append(qarn_body_verdict_text(verdict)).append(".");
    if (resume_offset > 0) {
      say_verbose(message.text());
    } else {
      say(message.text());
    }
  }
  return refused_bytes || resume_refused ? FETCH_REFUSED : 0;
}

// take_completed_partial moves the whole partial file of |slot| to
// |temporary_path| and empties the slot. Returns 1, or 0 when it could not
// be moved.
int ovu_updater::take_completed_partial(int32_t slot, const char *partial_path, const char *temporary_path) const {
  qarn_remove(temporary_path);  // Windows renames onto no existing file
  int taken = qarn_rename(partial_path, temporary_path) == 0 ? 1 : 0;
  partials_.forget(slot);
  return taken;
}
