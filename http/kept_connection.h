// qarn_kept_connection: what a downloader knows about the connection it
// keeps open between downloads, so that the next request to the same server
// skips the connect (and its round trip).
//
// A connection is kept only after a complete HTTP/1.1 response that framed
// its own end (a length or chunks), did not say "Connection: close", and was
// followed by nothing: a byte that answers no request makes the connection
// unusable, since it would be read as part of the next answer. Before a kept
// connection carries a request it is looked at once more: a server may have
// closed it while it was idle, or sent something unasked.
//
// A server may also close a kept connection just as the next request goes
// out. An exchange on a kept connection that ends before any byte of the
// answer arrived has therefore not failed: it went stale, and the request is
// sent again on a new connection. One exchange goes stale at most once,
// since a new connection is never stale.
#ifndef TORVANE_HTTP_KEPT_CONNECTION_H
#define TORVANE_HTTP_KEPT_CONNECTION_H

#include <cstdint>

#include "net/tcp_socket.h"
#include "support/bounded_string.h"

class qarn_http_data_processor_oline;

class qarn_kept_connection {
 public:
  // aim names the server that the next downloads go to: |host_name|
  // (as given to the name lookup), |port| and |tls|. Returns 1 when a
  // connection to exactly that server is kept, so that no new lookup is
  // needed; else 0, and any kept connection is dropped at the next take.
  int aim(const char *host_name, int port, int tls);

  // take decides whether |socket|'s open connection carries the next
  // request. Returns 1 when it is kept for the aimed-at server, still open
  // and has brought nothing unasked; else closes |socket| and returns 0, and
  // the caller opens a new connection.
  int take(qarn_tcp_socket &socket);

  // response_arrived counts |length| bytes of answer to the current request.
  void response_arrived(int32_t length) { response_bytes_ += length; }

  // went_stale returns 1 when the current exchange runs on a kept
  // connection and no byte of its answer has arrived: a connection that
  // ends now was closed by the server before it saw the request, and the
  // request may go again on a new connection.
  int went_stale() const { return reused_ && response_bytes_ == 0; }

  // release ends an exchange: the connection is kept for the next request
  // when |keep| is set, |socket| is still connected and |processor| read a
  // complete, self-framed HTTP/1.1 response with nothing after it and no
  // request to close (|unread_bytes| tells whether the read that completed
  // it brought more). Otherwise |socket| is closed.
  void release(qarn_tcp_socket &socket, int keep, const qarn_http_data_processor_oline &processor,
               int unread_bytes);

  // reusable_after returns 1 when |processor|'s exchange leaves its
  // connection fit for another request, as release describes; else 0.
  static int reusable_after(const qarn_http_data_processor_oline &processor, int unread_bytes);

 private:
  qarn_bounded_string host_name_;  // the aimed-at server
  int port_ = 0;
  int tls_ = 0;
  int kept_ = 0;                 // the socket holds a connection to that server, fit for a request
  int reused_ = 0;               // the current exchange runs on a kept connection
  int64_t response_bytes_ = 0;   // bytes of answer to the current request
};

#endif
