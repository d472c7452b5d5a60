// qarn_http_downloader: fetches one resource with one HTTP GET over one TCP
// connection (optionally TLS) and delivers the response body into a file or
// to a data callback, reporting progress as it goes. It owns its socket and,
// for the duration of one download, the processor that composes the request
// and parses the response.
//
// Use: construct; set data_callback (data-callback mode only),
// progress_callback and callback_context; set_connection; one download;
// destroy. With keep_connection set, further set_connection and download
// calls may follow, and each download to the server of the one before goes
// over the same connection when the server lets it (qarn_kept_connection).
// The whole exchange blocks the caller; the callbacks run inside download,
// on the caller's thread.
//
// Only a complete status-200 response succeeds (or, resuming, a 206 with
// exactly the rest of the file). A download also fails when
// the server closes the connection before the response is complete, when
// nothing moves over the connection for idle_timeout_ms, when the header
// section is not complete header_timeout_ms after the request, and when the
// body brings fewer than low_speed_limit_bytes within low_speed_window_ms,
// and, when total_timeout_ms is set, when the response is not complete that
// long after the request.
// In file mode a failed download deletes the file it created, so that no
// truncated file can be taken for a downloaded one; a caller that keeps
// partial files for resuming asks for them (keep_partial_file) and names
// them apart from any downloaded file.
//
// A file-mode download may resume a file (resume_offset): it asks for the
// rest of the resource and appends it to the bytes the file already holds.
// Every bound holds for each connection of a download: a kept connection
// that the server closed before answering is no failure; the request goes
// again, once, on a new connection, with its bounds counted afresh.
#ifndef TORVANE_HTTP_HTTP_DOWNLOADER_H
#define TORVANE_HTTP_HTTP_DOWNLOADER_H

#include <cstdint>
#include <cstdio>

#include "http/body_check.h"
#include "http/coalesced_file_writer.h"
#include "http/kept_connection.h"
#include "net/tcp_socket.h"
#include "platform/socket.h"
#include "support/bounded_string.h"
#include "support/file_size_limit.h"

class qarn_http_data_processor_oline;

// Bytes moved per socket write, and the largest piece of received bytes
// handed to the processor at once: so the largest body piece handed to the
// data callback.
constexpr int32_t QARN_DOWNLOAD_BLOCK_LEN = 8192;
// Bytes asked of one socket read. Many blocks per read keep the number of
// system calls per byte low; the blocks are handed on one by one.
constexpr int32_t QARN_DOWNLOAD_READ_LEN = 128 * 1024;
static_assert(QARN_DOWNLOAD_READ_LEN % QARN_DOWNLOAD_BLOCK_LEN == 0, "a read holds whole blocks");
// Longest single wait of the connect, of each write and of each read.
constexpr int QARN_DOWNLOAD_CONNECT_TIMEOUT_MS = 5000;
constexpr int QARN_DOWNLOAD_WRITE_TIMEOUT_MS = 5000;
constexpr int QARN_DOWNLOAD_READ_TIMEOUT_MS = 5000;
// Default of idle_timeout_ms: a download gives up after this long without
// a byte sent or received.
constexpr int32_t QARN_DOWNLOAD_IDLE_TIMEOUT_MS = 30000;
// Default of header_timeout_ms: the status line and the header section must
// be complete this long after the request went out.
constexpr int32_t QARN_DOWNLOAD_HEADER_TIMEOUT_MS = 30000;
// Defaults of the low-speed limit: a body that brings fewer than this many
// bytes in this window fails. Far below what a slow mobile link carries.
constexpr int32_t QARN_DOWNLOAD_LOW_SPEED_BYTES = 1024;
constexpr int32_t QARN_DOWNLOAD_LOW_SPEED_WINDOW_MS = 60000;
// Size of the output file's write buffer, used for bodies that are not
// declared larger than it.
constexpr int32_t QARN_DOWNLOAD_FILE_BUFFER_LEN = 64 * 1024;
// The only status that delivers a whole body.
constexpr int32_t QARN_DOWNLOAD_STATUS_OK = 200;
// The status of the rest of a resumed file, and of a range the server
// cannot give.
constexpr int32_t QARN_DOWNLOAD_STATUS_PARTIAL = 206;
constexpr int32_t QARN_DOWNLOAD_STATUS_RANGE_NOT_SATISFIABLE = 416;
// expected_length when the response has no "Content-Length:", or when a
// transfer coding frames its body (the length is then ignored).
constexpr int64_t QARN_DOWNLOAD_LENGTH_UNKNOWN = -1;
// A body of more bytes than the largest file is refused, whether or not it
// declared its length.
constexpr int64_t QARN_DOWNLOAD_LARGEST_BODY = QARN_LARGEST_FILE_SIZE;

// Receives each decoded piece of the body (at most QARN_DOWNLOAD_BLOCK_LEN
// bytes, valid during the call). Returns nonzero to go on, 0 to abort the
// download.
using qarn_download_data_callback = int (*)(void *context, const char *bytes, int32_t length);
// Reports body bytes received so far and the response's Content-Length
// (QARN_DOWNLOAD_LENGTH_UNKNOWN when it has none or a transfer coding
// overrides it).
using qarn_download_progress_callback = void (*)(void *context, int64_t received, int64_t expected);

class qarn_http_downloader {
 public:
  // A new downloader has no server, no callbacks and an unconnected socket.
  qarn_http_downloader();
  // Destruction closes an output file still open and a kept connection,
  // and destroys the socket (which reports and closes a handle still open).
  ~qarn_http_downloader();
  qarn_http_downloader(const qarn_http_downloader &) = delete;
  qarn_http_downloader &operator=(const qarn_http_downloader &) = delete;

  // set_connection resolves |host_name| into server_address and keeps
  // |port| and |tls| for the download; a connection kept to that very
  // server needs no lookup and stays. Returns 1 when the host name was
  // resolved (or needed no lookup), 0 otherwise (reported only for a null
  // host name).
  int set_connection(const char *host_name, int port, int tls);

  // download in file mode fetches |path| and writes the body of a 200
  // response into the file |destination| (created, or truncated when it
  // exists, only once the 200 header section is complete; any other status
  // leaves an existing file untouched). |host| only goes into the "Host:"
  // line. Returns 1 when the whole body is in the file and the file is
  // closed, else 0 after a report; a file this download created is then
  // deleted (unless the report says "Keeping file."). Refused (0) when
  // data_callback is set or |destination| does not fit 5998 characters.
  int download(const char *host, const char *path, const char *destination);

  // download in data-callback mode fetches |path| and hands the body of a
  // 200 response to data_callback piece by piece. Returns 1 when the whole
  // body was delivered, else 0 after a report; the callback may already
  // have seen part of a body that then failed.
  int download(const char *host, const char *path);

  // The processor's callbacks; |context| is the downloader.
  //
  // callback_connection_close closes tcp_socket.
  static void callback_connection_close(qarn_http_data_processor_oline *processor, void *context);
  // callback_message_received accepts status 200 only; in file mode it
  // opens the output file. Returns 1 to go on, 0 to abort.
  static int callback_message_received(qarn_http_data_processor_oline *processor, void *context);
  // callback_message_complete closes the output file. Returns 1, or 0 when
  // the file could not be closed (its last bytes may be lost).
  static int callback_message_complete(qarn_http_data_processor_oline *processor, void *context);
  // callback_content_data_received passes a body piece to the file or to
  // data_callback and reports progress. Returns 1 to go on, 0 to abort.
  static int callback_content_data_received(qarn_http_data_processor_oline *processor, void *context,
                                            const char *bytes, int32_t length);
  // callback_content_body_get_tx_data is never wanted (a GET has no body):
  // reports the call and returns -1.
  static int callback_content_body_get_tx_data(qarn_http_data_processor_oline *processor, void *context,
                                               char *buffer, int32_t max_len);

  int use_tls = 0;                      // the connection uses TLS
  int server_port = 0;                  // TCP port of the server
  platform_sockaddr_in server_address;  // filled by set_connection
  qarn_bounded_string destination_file_name;  // output file of a file-mode download
  FILE *output_file = nullptr;          // open between a 200 header section and the end of the body
  // "Content-Length:" of the response; unknown when it has none or a
  // transfer coding frames its body.
  int64_t expected_length = QARN_DOWNLOAD_LENGTH_UNKNOWN;
  int64_t received_length = 0;          // body bytes delivered so far
  qarn_tcp_socket tcp_socket;           // the connection

  qarn_download_data_callback data_callback = nullptr;          // selects data-callback mode
  qarn_download_progress_callback progress_callback = nullptr;  // optional in both modes
  void *callback_context = nullptr;                              // first argument of both
  // Judges the body (borrowed, may be null): it sees every piece before it
  // is handed on, and the whole body before the download succeeds.
  qarn_body_check *body_check = nullptr;

  // A download gives up when no byte could be sent or has arrived for this
  // many milliseconds. Values below 1 count as 1.
  int32_t idle_timeout_ms = QARN_DOWNLOAD_IDLE_TIMEOUT_MS;
  // A download gives up when the response's status line and header section
  // are not complete this many milliseconds after the request went out.
  // Values below 1 count as 1.
  int32_t header_timeout_ms = QARN_DOWNLOAD_HEADER_TIMEOUT_MS;
  // Once the body has begun, a download gives up when fewer than
  // low_speed_limit_bytes body bytes arrive within low_speed_window_ms
  // (windows below 1 ms count as 1 ms). A limit of 0 or less switches this
  // bound off.
  int32_t low_speed_limit_bytes = QARN_DOWNLOAD_LOW_SPEED_BYTES;
  int32_t low_speed_window_ms = QARN_DOWNLOAD_LOW_SPEED_WINDOW_MS;
  // A download gives up when the whole response has not arrived this many
  // milliseconds after the request went out. 0 or less (the default): no
  // such bound, so that a large file on a slow link is never cut off.
  int32_t total_timeout_ms = 0;
  // Nonzero: requests do not ask to close the connection, and a connection
  // that the server keeps open after a whole response carries the next
  // download to the same server. 0 (the default): one connection per
  // download, closed at its end.
  int keep_connection = 0;
  // Resuming, in file mode: the destination file holds the first
  // resume_offset bytes of the resource (a whole length of resource_length,
  // which must then be known), and the request asks for the rest only
  // ("Range: bytes=N-"). A 206 whose Content-Range is exactly that rest
  // continues the file: the body check first sees the kept bytes, read once
  // from the file, then the new ones. A 200 writes the file from its first
  // byte again. Any other 206, and a 416, fail the download with
  // resume_refused() set and the file deleted. 0 (the default): the whole
  // resource, as always.
  int64_t resume_offset = 0;
  // The resource's whole length, or QARN_DOWNLOAD_LENGTH_UNKNOWN (the
  // default): a body that runs past it, kept bytes included, is refused.
  int64_t resource_length = QARN_DOWNLOAD_LENGTH_UNKNOWN;
  // Nonzero, in file mode: a download whose connection ended early, or one
  // of whose time bounds ran out, after its body began keeps the file with
  // the bytes that arrived (partial_length() says how many) for a later
  // resume. Every other failure deletes the file as before; one that never
  // opened it (no answer, another status) leaves it as it was.
  int keep_partial_file = 0;

  // After a download: the server refused to resume, or the file could not
  // be resumed (see resume_offset).
  int resume_refused() const { return resume_refused_; }
  // After a failed download: the bytes of the partial file it kept, 0 when
  // it kept none.
  int64_t partial_length() const { return partial_length_; }

 private:
  int connect();
  int exchange_once(const char *host, const char *path);
  int exchange(qarn_http_data_processor_oline &processor, const char *host, const char *path, char *block);
  int send_request(qarn_http_data_processor_oline &processor, char *block);
  int receive_response(qarn_http_data_processor_oline &processor, char *block);
  int read_available(char *bytes, int32_t length, bool streaming, int wait_ms);
  int handle_received(qarn_http_data_processor_oline &processor, const char *bytes, int32_t length);
  int handle_block(qarn_http_data_processor_oline &processor, const char *block, int32_t length);
  int deliver_body(const char *bytes, int32_t length);
  int handle_connection_end(qarn_http_data_processor_oline &processor);
  int handle_broken_connection();
  int deliver_to_file(const char *bytes, int32_t length);
  int flush_file_writes();
  int open_output_file();
  void choose_file_buffer(int64_t body_length);
  int accept_partial_answer(const qarn_http_data_processor_oline &processor);
  int open_resumed_file();
  int refuse_resume(const char *why);
  int keeps_partial_file(int closed);
  int close_output_file();
  void delete_created_file();

  int header_complete_ = 0;      // the 200 header section of this download is complete
  int64_t body_bytes_ = 0;       // body bytes delivered in this download (64 bits)
  int created_output_file_ = 0;  // this download created or truncated the output file
  int keep_failed_file_ = 0;     // a failed download keeps the file it wrote
  int broken_ = 0;               // the connection ended early or a time bound ran out
  int resume_refused_ = 0;
  int64_t partial_length_ = 0;
  // The read that completed the response brought bytes after it.
  int unread_after_response_ = 0;
  qarn_kept_connection kept_;    // whether tcp_socket's connection carries the next request
  char *file_buffer_ = nullptr;  // stdio buffer of output_file, owned
  // Body bytes on their way into output_file; they point into the read
  // buffer and are written before it is filled again.
  qarn_coalesced_file_writer file_writes_;
};

#endif
