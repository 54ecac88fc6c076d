#include <csignal>
#include <iostream>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>

#include "BlobStore.h"
#include "DataFolder.h"
#include "FaultInjector.h"
#include "Housekeeper.h"
#include "HttpSession.h"
#include "Listener.h"
#include "Outbox.h"
#include "Platform/Error.h"
#include "PushHub.h"
#include "RequestRecorder.h"
#include "Router.h"
#include "ServerClock.h"
#include "ServerOptions.h"
#include "Services.h"
#include "Store.h"
#include "WebSocketSession.h"

namespace {

namespace net = boost::asio;
using namespace corvane::server;

constexpr int kThreads = 4;

int serve(const ServerOptions& options)
{
    std::signal(SIGPIPE, SIG_IGN);
    DataFolder::makePrivate(options.dataDir);

    BlobStore blobs(options.dataDir);
    Store store(options.dataDir);
    ServerClock clock;
    Housekeeper housekeeper(store, blobs, clock);
    Outbox outbox(options.dataDir / "outbox.log");
    FaultInjector faults;
    RequestRecorder recorder;
    PushHub push(options.testTimeout.value_or(WebSocketSession::kIdleTimeout));
    Services services{store,  blobs,       clock, outbox,
                      faults, recorder,    push,  WireFormat(options.filePaths),
                      &push,  &housekeeper};
    const Router router(services, options.testFaults);
    const HttpSession::Context sessionContext{
        router,
        options.testFaults ? &faults : nullptr,
        options.testFaults ? &recorder : nullptr,
        &push,
        blobs.tempDir(),
        options.testTimeout.value_or(HttpSession::kIdleTimeout),
        options.testUnauthenticatedTimeout.value_or(HttpSession::kUnauthenticatedTimeout)};

    net::io_context context(kThreads);
    const net::ip::tcp::endpoint endpoint(net::ip::make_address(options.address), options.port);
    auto listener = std::make_shared<Listener>(context, endpoint, sessionContext);
    listener->run();

    const auto bound = listener->localEndpoint();
    std::cout << "corvane-server listening on " << bound.address().to_string() << ":"
              << bound.port() << std::endl;

    net::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&context](const boost::system::error_code&, int) { context.stop(); });

    {
        std::vector<std::jthread> threads;
        for (int i = 1; i < kThreads; ++i) {
            threads.emplace_back([&context] { context.run(); });
        }
        context.run();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    ServerOptions options;
    try {
        options = ServerOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const corvane::Error& error) {
        std::cerr << error.localizedDescription() << std::endl;
        return 2;
    }
    try {
        return serve(options);
    } catch (const std::exception& error) {
        std::cerr << "corvane-server: " << error.what() << std::endl;
        return 1;
    }
}
