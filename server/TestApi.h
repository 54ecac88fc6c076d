#pragma once

#include <memory>
#include <string>

#include "Response.h"

namespace corvane::server {

class JsonBody;
struct Request;
struct Services;

// The test-only routes under /__test/ (present only with --test-faults). Thread-safe.
//
//   POST /__test/faults        adds one fault (below)
//   POST /__test/faults/clear  removes every fault
//   GET  /__test/last-request  the last request outside /__test/: method, target, headers, body,
//                              "connection", the number of the connection it came on, and
//                              "number", how many such requests came so far; "Authorization"
//                              reads "Bearer <redacted>", and "authorization_sha256" holds the
//                              SHA-256 of the value that came
//   POST /__test/clock         {"advance_seconds": n} moves the server's clock
//   POST /__test/ws/drop       closes every open push socket without a close frame
//   POST /__test/housekeeping  runs a round of the housekeeper now and answers what it removed:
//                              {"expired_uploads": n, "removed_blobs": n}
//
// A fault is one JSON object. It hits the next `count` requests (default 1) whose path starts
// with "path_prefix" (required) and, when "method" is given, whose method is that one; the
// oldest matching fault hits first. Faults apply before authentication and routing, to every
// route but /__test/ ones. The members, any of which may be combined unless said otherwise:
//
//   "delay_ms": n          answer n milliseconds late (at most 120000), otherwise normally.
//
// A canned answer instead of the route's (the route does not run):
//   "status": n            answer with this status (100..599) and, without "body", the JSON
//                          {"error": "injected fault"};
//   "body": "text"         ... with this body instead, Content-Type "text/plain";
//   "body_base64": "..."   ... with these bytes instead (any bytes);
//   "content_type": "..."  ... with this Content-Type;
//   "cut": true            send the status line, headers and half of the body (canned or the
//                          default error), promise more, then close the connection.
//
// Changes to the route's own answer (the route runs, with its effects; only 2xx answers are
// changed, though any answer uses the fault up; cannot be combined with the canned-answer
// members; a change that cannot be made answers 500 with the reason):
//   "patch": [ops]           RFC 6902 JSON Patch operations applied to the JSON answer. Wrong
//                            types: [{"op":"replace","path":"/files/0/size","value":"12"}]; a
//                            file path that escapes its folder:
//                            [{"op":"replace","path":"/files/0/path","value":"../../etc/x"}]
//                            (likewise "/../x", "a/../../x", "/tmp/../../x", or
//                            "/.corvane/sync_state.json" for the client's own state file); an
//                            extra file: [{"op":"add","path":"/files/-","value":{...}}].
//   "malformed_json": true   the body cut to its first half, so the JSON text ends early.
//   "corrupt_content": true  the first byte of the content inverted (empty content becomes "!"):
//                            a download whose bytes no longer match the hash it was asked for,
//                            same length, status 200. Content over 64 MiB answers 500.
//
// A push-channel message, sent when the fault hits, before the request is handled (so ahead of
// any "file_changed" the request causes), to every open push socket of the account whose bearer
// token the request carries (a request without a valid token pushes nothing):
//   "push": {"text": "..."}                 exactly this text;
//   "push": {"kind": "not_json"}            text that is not JSON;
//   "push": {"kind": "wrong_types"}         a file_changed whose event has a numeric "id", an
//                                           array "action" and a text "version";
//   "push": {"kind": "no_event"}            {"type":"file_changed"} without an event;
//   "push": {"kind": "huge", "size": n}     a file_changed of n bytes (default 1 MiB, 64 to
//                                           33554432) whose event lacks "id", so it does not
//                                           decode; over 16 MiB it passes the client's limit.
//
// Example: {"path_prefix":"/api/folders/","method":"GET","patch":[{"op":"replace",
// "path":"/files/0/path","value":"../../etc/x"}]} makes the next folder tree name its first file
// "../../etc/x".
class TestApi {
public:
    explicit TestApi(Services& services) : m_services(services) {}

    Response addFault(const Request& request);
    Response clearFaults();
    Response lastRequest();
    Response advanceClock(const Request& request);
    Response dropSockets();
    Response housekeeping();

    // The text of a "push" fault description.
    static std::shared_ptr<const std::string> pushText(const JsonBody& push);

private:
    Services& m_services;
};

}  // namespace corvane::server
