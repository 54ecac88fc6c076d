#pragma once

#include "Response.h"

namespace corvane::server {

struct Request;
struct Services;

// The test-only routes under /__test/ (present only with --test-faults). Thread-safe.
class TestApi {
public:
    explicit TestApi(Services& services) : m_services(services) {}

    Response addFault(const Request& request);
    Response clearFaults();
    Response lastRequest();
    Response advanceClock(const Request& request);

private:
    Services& m_services;
};

}  // namespace corvane::server
