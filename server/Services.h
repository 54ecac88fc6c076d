#pragma once

#include "WireFormat.h"

namespace corvane::server {

class BlobStore;
class ChangeSink;
class FaultInjector;
class Housekeeper;
class Outbox;
class PushHub;
class RequestRecorder;
class ServerClock;
class Store;

// What the request handlers work with; all of it is thread-safe. Owned by main(), outliving
// every session.
struct Services {
    Store& store;
    BlobStore& blobs;
    ServerClock& clock;
    Outbox& outbox;
    FaultInjector& faults;
    RequestRecorder& recorder;
    ChangeSink& changes;  // told of every committed file change
    WireFormat wire;
    PushHub* push = nullptr;  // the push channel, for the test faults that reach its sockets
    Housekeeper* housekeeper = nullptr;  // for the test route that runs a round
};

}  // namespace corvane::server
