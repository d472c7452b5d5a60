// qarn_http_data_processor_oline: an HTTP/1.0 and HTTP/1.1 message
// processor for one connection. It never touches a socket: its owner pulls
// the bytes to send with get_tx_data and pushes received bytes in with
// put_rx_data; the processor reports events through five callbacks.
//
// It serves both roles. After start_http_GET it is a client and expects a
// status line; otherwise it is a server, expects a request line and answers
// a bad request with "400".
//
// A client exchange: construct; set callback_context, the callbacks and any
// settings; start_http_GET; send what get_tx_data returns until it returns 0;
// feed every received block to put_rx_data; when the peer closes the
// connection, call put_rx_close and trust the response only if it returns 1;
// destroy.
//
// One thread. Callbacks run inside put_rx_data, put_rx_close and get_tx_data.
#ifndef TORVANE_HTTP_HTTP_DATA_PROCESSOR_H
#define TORVANE_HTTP_HTTP_DATA_PROCESSOR_H

#include <cstdint>

#include "http/content_range.h"
#include "net/data_queue.h"
#include "support/bounded_string.h"

struct qarn_http_cookie;
class qarn_http_data_processor_oline;

// Sizes of the fixed text fields, terminator included.
constexpr int32_t QARN_HTTP_METHOD_SIZE = 32;
constexpr int32_t QARN_HTTP_TEXT_SIZE = 256;
constexpr int32_t QARN_HTTP_CONTENT_TYPE_SIZE = 64;
constexpr int32_t QARN_HTTP_AUTH_SIZE = 64;
constexpr int32_t QARN_HTTP_COOKIE_PREFIX_SIZE = 32;

// Most bytes a header section may take: its first line, its header lines,
// their terminators and any empty lines before it; the same bound holds for
// a trailer section. A longer one fails the message with a report, so that
// the work a peer's headers cause stays bounded.
constexpr int32_t QARN_HTTP_HEADER_SECTION_MAX = 64 * 1024;

// Largest piece of outgoing body asked of content_body_get_tx_data at once.
constexpr int32_t QARN_HTTP_TX_BODY_BLOCK_LEN = 8192;

// peer_version values.
constexpr int32_t QARN_HTTP_VERSION_UNREADABLE = 0;
constexpr int32_t QARN_HTTP_VERSION_1_0 = 10;
constexpr int32_t QARN_HTTP_VERSION_1_1 = 11;
constexpr int32_t QARN_HTTP_VERSION_OTHER = 20;  // none seen yet, or another number

// rx_content_length when the message has no "Content-Length:", and when a
// "Transfer-Encoding:" frames it, which overrides any length given.
constexpr int64_t QARN_HTTP_NO_CONTENT_LENGTH = -1;

// rx_content_type_code values: the media types the processor recognises.
enum qarn_http_media_type : int32_t {
  QARN_MEDIA_NONE = 0,  // no "Content-Type:" line
  QARN_MEDIA_TEXT_PLAIN = 1,
  QARN_MEDIA_TEXT_HTML = 2,
  QARN_MEDIA_FORM_URLENCODED = 10,
  QARN_MEDIA_XML = 11,
  QARN_MEDIA_RSS_XML = 12,
  QARN_MEDIA_JSON = 13,
  QARN_MEDIA_OCTET_STREAM = 14,
  QARN_MEDIA_OTHER = 99,
};

// Results of header_line_parse.
enum qarn_http_line_result : int32_t {
  QARN_HTTP_LINE_ACCEPTED = 0,
  QARN_HTTP_LINE_BAD = 1,        // a client fails, a server answers "400"
  QARN_HTTP_LINE_TOLERATED = 2,  // a client goes on, a server answers "400"
};

// Results of put_rx_data.
enum qarn_http_rx_result : int32_t {
  QARN_HTTP_RX_FAILED = -1,
  QARN_HTTP_RX_DISCARDING = 0,  // a "400" answer was queued; input is swallowed
  QARN_HTTP_RX_CONSUMED = 1,
};

// What the receiving side waits for next. The sticky conditions "a 400 was
// queued, input is discarded" and "failed" are flags beside this state.
enum qarn_http_rx_state : int32_t {
  // Between messages: waits for the first line of the next message; empty
  // lines here are skipped.
  QARN_HTTP_RX_IDLE = 0,
  // A first line was read: waits for header lines and the empty line that
  // ends the header section.
  QARN_HTTP_RX_HEADERS = 1,
  // Length- or close-delimited body: waits for body bytes, up to
  // rx_content_length, or up to the connection's close when it is absent.
  QARN_HTTP_RX_BODY = 2,
  // Chunked body: waits for a chunk size line.
  QARN_HTTP_RX_CHUNK_SIZE = 3,
  // Chunked body: waits for the chunk_remaining bytes of the current chunk.
  QARN_HTTP_RX_CHUNK_DATA = 4,
  // Chunked body: waits for the empty line that follows chunk data.
  QARN_HTTP_RX_CHUNK_DATA_END = 5,
  // The last chunk was read and the message completed: waits for trailer
  // lines up to the empty line that ends them; they are discarded.
  QARN_HTTP_RX_TRAILER = 6,
  // The final response of a connection that is to close, or of a client
  // that stops after its response, is complete, its trailer included: no
  // later byte can belong to it, and none may undo it, so every later byte
  // is ignored (one trace notice) and counted. A new request starts over
  // in QARN_HTTP_RX_IDLE.
  QARN_HTTP_RX_CLOSED = 7,
};

// Callbacks. Each receives the processor and callback_context first. For
// the three that return int, 0 makes the processor set failed and fail the
// current put_rx_data call; a missing one counts as 0.
using qarn_http_close_callback = void (*)(qarn_http_data_processor_oline *processor, void *context);
using qarn_http_event_callback = int (*)(qarn_http_data_processor_oline *processor, void *context);
// |bytes| points into the block given to put_rx_data; valid during the call.
using qarn_http_data_callback = int (*)(qarn_http_data_processor_oline *processor, void *context,
                                        const char *bytes, int32_t length);
// Fills |buffer| with up to |max_len| outgoing body bytes. Returns n > 0 for
// n bytes placed, 0 for nothing available now, -1 when the body has ended,
// less than -1 for failure.
using qarn_http_tx_body_callback = int (*)(qarn_http_data_processor_oline *processor, void *context,
                                           char *buffer, int32_t max_len);

class qarn_http_data_processor_oline {
 public:
  // Construction leaves the processor idle with every field at its initial
  // value and the receive state reset.
  qarn_http_data_processor_oline();
  // Destruction frees both cookie lists and gives the queue's buffers to
  // the spare pool.
  ~qarn_http_data_processor_oline();
  qarn_http_data_processor_oline(const qarn_http_data_processor_oline &) = delete;
  qarn_http_data_processor_oline &operator=(const qarn_http_data_processor_oline &) = delete;

  // ---- Settings: written by the owner before it composes a message.

  int send_expect_100 = 0;   // requests carry "Expect: 100-continue"
  int force_http_1_0 = 0;    // "HTTP/1.0" lines, no chunking, always "Connection: close"
  int allow_chunked_tx = 0;  // an outgoing body may use chunked framing
  int close_requested = 0;   // close after this exchange ("Connection: close")
  // A request asks for the resource's bytes from this offset on only
  // ("Range: bytes=N-"); below 0 (the default), for the whole resource.
  int64_t tx_range_from = -1;
  // A client that reads the answer to its one request and nothing more:
  // once the final response is complete no later byte is parsed, even on a
  // connection that stays open. Such bytes answer no request; they are
  // ignored and counted (rx_ignored_bytes), so that the owner can tell a
  // peer that sent more than it was asked for.
  int stop_after_response = 0;
  // Outgoing body bytes still to produce: 0 none, > 0 left of a declared
  // length, < 0 length not declared.
  int32_t tx_body_remaining = 0;
  char auth_user[QARN_HTTP_AUTH_SIZE] = "";      // Basic authorization user
  char auth_password[QARN_HTTP_AUTH_SIZE] = "";  // Basic authorization password
  char cookie_prefix[QARN_HTTP_COOKIE_PREFIX_SIZE] = "";  // name space of cookie names
  void *callback_context = nullptr;               // first argument of every callback

  qarn_http_close_callback connection_close = nullptr;      // close the connection now
  qarn_http_event_callback message_received = nullptr;      // a header section is complete
  qarn_http_event_callback message_complete = nullptr;      // a message, body included, is complete
  qarn_http_data_callback content_data_received = nullptr;  // a decoded piece of body
  qarn_http_tx_body_callback content_body_get_tx_data = nullptr;  // outgoing body bytes

  // Cookies to send: one "Set-Cookie" line each in every request. Owned by
  // the processor; fill it with qarn_http_cookie::add_cookie.
  qarn_http_cookie *tx_cookies = nullptr;

  // ---- The message being received: written by the processor, read by the
  // owner. Reset at the first line of every incoming message.

  int32_t peer_version = QARN_HTTP_VERSION_OTHER;  // 10, 11, 20 or 0
  int32_t rx_status = 0;                             // status of a response; 0 for a request
  char rx_reason[QARN_HTTP_TEXT_SIZE] = "";          // reason phrase of a response
  char rx_method[QARN_HTTP_METHOD_SIZE] = "";        // method of a request
  char rx_host[QARN_HTTP_TEXT_SIZE] = "";            // absolute target's authority or "Host:"
  char rx_path[QARN_HTTP_TEXT_SIZE] = "";            // request path without leading "/"
  char rx_query[QARN_HTTP_TEXT_SIZE] = "";           // text after the first "?"
  // "Content-Length:"; from the end of the header section on, -1 when a
  // transfer coding frames the body instead.
  int64_t rx_content_length = QARN_HTTP_NO_CONTENT_LENGTH;
  char rx_transfer_encoding[QARN_HTTP_TEXT_SIZE] = "";  // "," and ";" turned into spaces
  char rx_content_type[QARN_HTTP_CONTENT_TYPE_SIZE] = "";
  int32_t rx_content_type_code = QARN_MEDIA_NONE;
  int rx_expect_continue = 0;  // a request asked "Expect: 100-continue"
  int rx_chunked = 0;          // the body uses chunked coding
  // "Content-Range:"; all absent when the message has none or a malformed one.
  qarn_content_range rx_content_range;
  int32_t chunk_remaining = 0;  // bytes of the current chunk not yet delivered
  qarn_bounded_string rx_first_line;  // first line of the message, unchanged

  // Cookies of received "Cookie:" lines, newest first, names without
  // cookie_prefix. Owned by the processor.
  qarn_http_cookie *rx_cookies = nullptr;

  // ---- Sending side.

  // start_http_GET queues a GET request for |path| (missing or empty gives
  // "/"), in which "%", "?", "#" and every byte outside "!" to "~" are
  // percent-encoded: the path names one resource and carries no query or
  // fragment. The request has "Host: " |host|. Returns 1 when queued, 0 when
  // refused: a previous message is unfinished, the connection is to close
  // once the awaited response is complete, the processor failed, or the
  // request head does not fit 5999 characters.
  int start_http_GET(const char *host, const char *path);
  // send_response_100 queues "100 continue". Returns 1 queued, 0 refused.
  int send_response_100();
  // send_response_400 queues a "400" answer with |reason| ("Bad request"
  // when missing or empty) and "Connection: close". Returns 1 or 0.
  int send_response_400(const char *reason);
  // append_common_headers appends the body framing line and the headers
  // every request or response carries to |text|, and decides tx_chunked
  // and the close flags for the message.
  void append_common_headers(qarn_bounded_string_base &text, int is_request, int32_t body_length);
  // fill_content_body queues outgoing body bytes from
  // content_body_get_tx_data, with chunk framing when tx_chunked is set.
  // Returns 1 fine (maybe more later), 0 failure.
  int fill_content_body();
  // get_tx_data copies up to |max_len| bytes to send into |buffer|. Returns
  // the count (> 0), 0 when nothing is to be sent now, -1 on failure or when
  // |max_len| <= 0. With nothing queued it signals a pending close.
  int32_t get_tx_data(char *buffer, int32_t max_len);
  // previous_message_pending returns 1 (with a report when an outgoing body
  // is unfinished) when no new message may start now, else 0. |operation|
  // names the caller in the report.
  int previous_message_pending(const char *operation);
  // notify_close calls connection_close, then forgets every pending close
  // and any header section in progress.
  void notify_close();

  // ---- Receiving side.

  // put_rx_data parses |length| received bytes, calling back as messages
  // arrive. Returns 1 when all were consumed, 0 when input is being
  // discarded after a "400" answer, -1 on failure (also for |length| <= 0).
  int put_rx_data(const char *data, int32_t length);
  // put_rx_close tells the processor that the peer closed the connection in
  // order, so no further byte will come. A line whose lone terminator ended
  // the input is taken as complete, and a body delimited by the close is
  // completed (message_complete is called for it). Returns 1 when the last
  // incoming message is complete — for a client, the final response to its
  // request — and 0 when the connection ended before that: no complete
  // header section, fewer body bytes than Content-Length, a chunked body
  // without its last chunk, or a processor that failed or discards input.
  // An owner must not treat a response as whole unless this returns 1.
  int put_rx_close();
  // rx_message_complete returns 1 when the last incoming message completed
  // and no later one has begun (a client: the final, non-1xx response to the
  // last request), else 0. A body delimited by the connection's close
  // counts only after put_rx_close.
  int rx_message_complete() const { return rx_complete_; }

  // collect_line appends bytes to the current line until a terminator
  // (CRLF, LFCR, lone CR or lone LF) is seen. Returns the bytes consumed.
  int32_t collect_line(const char *data, int32_t length);
  // header_line_parse handles one first line or header line of a message;
  // see qarn_http_line_result.
  int header_line_parse(const char *line);
  // try_extract_http_version_number returns 10, 11, 20 or 0 for |word|.
  int32_t try_extract_http_version_number(const char *word);
  // parse_response_line reads a status line. Returns 1 parsed, 0 not.
  int parse_response_line(const char *line);
  // parse_request_line reads a request line. Returns 1 parsed, 0 not.
  int parse_request_line(const char *line);
  // reset_message empties every per-message field.
  void reset_message();

  // ---- State, for owners and tests.

  int failed() const { return failed_; }
  int discard_rx() const { return discard_rx_; }
  int awaiting_response() const { return awaiting_response_; }
  int close_after_tx() const { return close_after_tx_; }
  int close_after_rx() const { return close_after_rx_; }
  int tx_chunked() const { return tx_chunked_; }
  const char *sent_method() const { return sent_method_; }
  qarn_http_rx_state rx_state() const { return rx_state_; }
  int in_header_section() const { return rx_state_ == QARN_HTTP_RX_HEADERS; }
  int rx_in_body() const;
  // chunk_state returns 1 awaiting a size line, 2 in chunk data, 3 awaiting
  // the empty line after chunk data, 0 outside a chunked body.
  int32_t chunk_state() const;
  // rx_body_received counts body bytes delivered of a length- or
  // close-delimited body. 64 bits: a close-delimited body may pass 2 GiB.
  int64_t rx_body_received() const { return rx_body_received_; }
  const char *rx_line() const { return rx_line_.text(); }
  // rx_ignored_bytes counts the bytes ignored after the final response
  // (see QARN_HTTP_RX_CLOSED).
  int64_t rx_ignored_bytes() const { return rx_ignored_bytes_; }

 private:
  // Receiving: one step on the remaining bytes; > 0 bytes consumed, 0 none
  // consumed (run again), -1 failure.
  int32_t rx_step(const char *data, int32_t length);
  int32_t line_step(const char *data, int32_t length);
  int charge_header_bytes(int32_t count);
  int handle_line();
  int handle_header_phase_line(const char *line);
  // refuse_message fails a client; a server queues a "400" answer and
  // discards the rest of the input. Returns -1, or 0 when discarding.
  int refuse_message();
  // settle_framing decides, at the end of a header section, what frames the
  // body. Returns 1, or what refuse_message returns.
  int settle_framing();
  int end_header_section();
  int has_body() const;
  int wants_continue() const;
  int finish_message(qarn_http_rx_state next_state);
  int32_t body_step(const char *data, int32_t length);
  int32_t ignore_after_close(int32_t length);
  int32_t chunk_data_step(const char *data, int32_t length);
  int handle_chunk_size_line(const char *line);
  int handle_chunk_data_end_line(const char *line);
  int handle_trailer_line(const char *line);
  int deliver_body(const char *data, int32_t length);
  int fail();

  // Header lines, one handler per recognised header.
  int parse_content_length_header(const char *line, const char *value);
  int parse_content_type_header(const char *line, const char *value);
  int parse_connection_header(const char *line, const char *value);
  int parse_expect_header(const char *line, const char *value);
  int parse_transfer_encoding_header(const char *line, const char *value);
  int parse_host_header(const char *value);
  void parse_request_target(const char *target, int32_t target_len);

  // Sending.
  int queue_head(const qarn_bounded_string_base &head);
  void append_status_line(qarn_bounded_string_base &text, const char *status);
  int queue_body_piece(const char *piece, int32_t length);
  int queue_last_chunk();

  int failed_ = 0;             // sticky: every later put/get fails
  int discard_rx_ = 0;         // a "400" was queued; input is swallowed
  int awaiting_response_ = 0;  // a request was sent: client rules apply
  int close_after_tx_ = 0;     // server: close once the queued output is drained
  int close_after_rx_ = 0;     // client: close once the response is complete
  int tx_chunked_ = 0;         // the outgoing message uses chunked framing
  char sent_method_[QARN_HTTP_METHOD_SIZE] = "";
  qarn_data_queue tx_queue_;

  qarn_http_rx_state rx_state_ = QARN_HTTP_RX_IDLE;
  qarn_bounded_string rx_line_;  // the line being collected, without terminator
  int rx_line_complete_ = 0;     // a terminator was seen; rx_line_ is ready
  char rx_last_char_ = 0;        // a CR or LF that may pair with the next byte
  int64_t rx_body_received_ = 0;
  int32_t rx_header_bytes_ = 0;  // bytes of the current header or trailer section
  int rx_complete_ = 0;          // see rx_message_complete
  int rx_after_final_ = 0;       // the final response of a closing connection is complete
  int rx_ignored_reported_ = 0;  // bytes after the final response were reported
  int64_t rx_ignored_bytes_ = 0;  // bytes ignored after the final response
};

#endif
