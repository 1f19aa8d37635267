// The client's link against servers made up by the test: one that answers
// late or never, and one that sends frames no server should.
#include "zvstation/net/link.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "support/temp_space.hpp"
#include "support/wait.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/net/socket.hpp"
#include "zvstation/station.hpp"

namespace net = zv::station::net;
namespace wire = zv::station::wire;
namespace zs = zv::station;

namespace {

using zvtest::Clock;
using zvtest::MsSince;
using zvtest::WaitFor;

// A server made up by the test: a request socket answered by `answer` on a
// thread of its own, and a stream the test publishes on.
class FakeServer {
public:
    using Answer = std::function<bool(const wire::Request&, wire::Reply*)>;  // false: no reply
    explicit FakeServer(Answer answer) : answer_(std::move(answer)) {
        std::string error;
        router_ = net::Socket(context_, ZMQ_ROUTER);
        stream_ = net::Socket(context_, ZMQ_XPUB);
        router_.Set(ZMQ_LINGER, 0, &error);
        stream_.Set(ZMQ_LINGER, 0, &error);
        EXPECT_EQ(zmq_bind(router_.get(), "tcp://127.0.0.1:*"), 0);
        EXPECT_EQ(zmq_bind(stream_.get(), "tcp://127.0.0.1:*"), 0);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeServer() {
        stop_ = true;
        thread_.join();
    }
    std::string Endpoint() const { return router_.LastEndpoint(); }
    // Publishes `frame` as it is, once a client follows the stream.
    void Publish(const std::vector<uint8_t>& frame) {
        std::lock_guard lock(mutex_);
        zmq_send(stream_.get(), frame.data(), frame.size(), 0);
    }
    bool Subscribed() const { return subscribed_; }
    // Answers the next requests with this frame as it is.
    void ReplyRaw(std::vector<uint8_t> frame) {
        std::lock_guard lock(mutex_);
        raw_ = std::move(frame);
    }

private:
    void Serve() {
        struct Later {
            Clock::time_point at;
            std::string peer;
            std::vector<uint8_t> frame;
        };
        std::vector<Later> later;
        while (!stop_) {
            zmq_pollitem_t items[] = {{router_.get(), 0, ZMQ_POLLIN, 0}};
            zmq_poll(items, 1, 5);
            {
                std::lock_guard lock(mutex_);
                net::Message subscription;
                if (zmq_msg_recv(subscription.get(), stream_.get(), ZMQ_DONTWAIT) >= 0) subscribed_ = true;
            }
            for (auto it = later.begin(); it != later.end();) {
                if (Clock::now() < it->at) {
                    ++it;
                    continue;
                }
                zmq_send(router_.get(), it->peer.data(), it->peer.size(), ZMQ_SNDMORE);
                zmq_send(router_.get(), it->frame.data(), it->frame.size(), 0);
                it = later.erase(it);
            }
            if ((items[0].revents & ZMQ_POLLIN) == 0) continue;
            net::Message peer;
            net::Message frame;
            zmq_msg_recv(peer.get(), router_.get(), 0);
            zmq_msg_recv(frame.get(), router_.get(), 0);
            wire::Request request;
            std::string error;
            if (!wire::DecodeRequest(frame.data(), frame.size(), &request, &error)) continue;
            wire::Reply reply;
            reply.id = request.id;
            reply.op = request.op;
            if (request.op == wire::Op::Hello) {
                reply.server.serial = 5;
                reply.server.session = 1;
                reply.server.stream = stream_.LastEndpoint();
            } else if (request.op == wire::Op::Ping) {
                reply.server.session = 1;
            }
            Later out{Clock::now(), std::string(reinterpret_cast<const char*>(peer.data()), peer.size()), {}};
            {
                std::lock_guard lock(mutex_);
                if (!raw_.empty() && request.op != wire::Op::Hello && request.op != wire::Op::Ping) out.frame = raw_;
            }
            if (out.frame.empty()) {
                if (request.op != wire::Op::Hello && request.op != wire::Op::Ping && !answer_(request, &reply))
                    continue;
                if (reply.message == "late") out.at += std::chrono::milliseconds(400);
                wire::EncodeReply(reply, &out.frame);
            }
            later.push_back(std::move(out));
        }
    }

    net::Context context_;
    net::Socket router_;
    net::Socket stream_;
    Answer answer_;
    std::mutex mutex_;
    std::vector<uint8_t> raw_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> subscribed_{false};
    std::thread thread_;
};

std::unique_ptr<net::ServerLink> Linked(const std::string& endpoint, int timeoutMs = 2000) {
    net::LinkOptions options;
    options.endpoint = endpoint;
    options.requestTimeoutMs = timeoutMs;
    auto link = std::make_unique<net::ServerLink>(options);
    std::string error;
    EXPECT_TRUE(link->Start(&error)) << error;
    EXPECT_TRUE(WaitFor([&] { return link->State() == net::LinkState::Online; }, 5000));
    return link;
}

wire::Request Of(wire::Op op) {
    wire::Request request;
    request.op = op;
    return request;
}

// A server that answers later than the request waits gets a failure
// within the bound; its late reply is counted and mistaken for no other.
TEST(LinkTest, ARequestGetsItsReplyOrAFailureWithinItsBound) {
    FakeServer server([](const wire::Request& request, wire::Reply* reply) {
        if (request.op == wire::Op::SetMode) reply->message = request.text == "slow" ? "late" : "prompt";
        return request.op != wire::Op::Stat;  // Stat: never answered
    });
    auto link = Linked(server.Endpoint());

    wire::Request slow = Of(wire::Op::SetMode);
    slow.text = "slow";
    Clock::time_point t0 = Clock::now();
    wire::Reply reply = link->Call(slow, 150);
    EXPECT_EQ(reply.status, ZV_E_IO);
    EXPECT_NE(reply.message.find("did not answer SetMode within 150 ms"), std::string::npos) << reply.message;
    EXPECT_GE(MsSince(t0), 140);
    EXPECT_LT(MsSince(t0), 400);

    wire::Request never = Of(wire::Op::Stat);
    t0 = Clock::now();
    EXPECT_EQ(link->Call(never, 200).status, ZV_E_IO);
    EXPECT_LT(MsSince(t0), 500);

    // The slow reply arrives meanwhile; the next request gets its own.
    ASSERT_TRUE(WaitFor([&] { return link->Stats().lateReplies == 1; }, 2000));
    wire::Request prompt = Of(wire::Op::SetMode);
    prompt.text = "fast";
    reply = link->Call(prompt);
    EXPECT_EQ(reply.status, ZV_OK);
    EXPECT_EQ(reply.message, "prompt");
    EXPECT_EQ(link->Stats().lateReplies, 1u);
}

// Nothing on the endpoint: calls fail at once, the link says the server
// cannot be reached, and stopping the link leaves nothing behind.
TEST(LinkTest, AServerThatIsNotThereFailsEveryCallAtOnce) {
    std::string endpoint;
    {
        FakeServer gone([](const wire::Request&, wire::Reply*) { return true; });
        endpoint = gone.Endpoint();
    }
    net::LinkOptions options;
    options.endpoint = endpoint;
    options.offlineAfterMs = 300;
    options.heartbeatMs = 50;
    net::ServerLink link(options);
    std::string error;
    ASSERT_TRUE(link.Start(&error)) << error;
    const Clock::time_point t0 = Clock::now();
    const wire::Reply reply = link.Call(Of(wire::Op::GetPipe));
    EXPECT_EQ(reply.status, ZV_E_IO);
    EXPECT_LT(MsSince(t0), 100) << reply.message;
    ASSERT_TRUE(WaitFor([&] { return link.State() == net::LinkState::Offline; }, 2000));
    const std::vector<net::LinkEvent> events = link.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, net::LinkEvent::Kind::Offline);
    EXPECT_NE(events[0].text.find("cannot be reached"), std::string::npos) << events[0].text;
    EXPECT_NE(link.Call(Of(wire::Op::GetPipe)).message.find("is offline"), std::string::npos);
}

class HostileServerTest : public ::testing::Test {
protected:
    // A real batch of the simulator, as a frame of server `serial`.
    std::vector<uint8_t> Batch(uint32_t serial, uint64_t sequence) {
        zvtest::TempFileSpace space("zvlink", zvtest::TempFileSpace::Root::kLeave);
        bool created = false;
        std::string error;
        EXPECT_TRUE(zs::EnsureDemoStation(space.Path(), 2, 1, &created, &error)) << error;
        zs::Station station;
        zs::Options options;
        options.profilePoints = 64;
        EXPECT_TRUE(station.Open(space.Path(), options, &error)) << error;
        station.SetMode(1, "Free");
        station.StartDelivery(1);
        std::vector<zvHandle> results;
        station.NextBatch(&results);
        wire::BatchHeader header;
        header.serial = serial;
        header.session = 1;
        header.sequence = sequence;
        std::vector<uint8_t> frame;
        EXPECT_TRUE(wire::EncodeBatch(header, results, &frame, &error)) << error;
        for (zvHandle h : results) zvObjectDestroy(h);
        return frame;
    }
    zv::testing::Scope scope_;
};

// Frames that break the rules are refused and counted; the link goes on,
// and a batch missing from the sequence is counted as lost.
TEST_F(HostileServerTest, FramesThatBreakTheRulesAreRefusedAndCounted) {
    FakeServer server([](const wire::Request&, wire::Reply*) { return true; });
    auto link = Linked(server.Endpoint());
    ASSERT_TRUE(WaitFor([&] { return server.Subscribed(); }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the subscription reaches every pipe

    const std::vector<uint8_t> good = Batch(5, 1);
    std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<ptrdiff_t>(good.size() / 2));
    std::vector<uint8_t> huge = good;
    const uint32_t results = 0xFFFFFFFFu;
    std::memcpy(huge.data() + 12, &results, 4);
    server.Publish({'n', 'o', 'i', 's', 'e'});
    server.Publish(truncated);
    server.Publish(huge);
    server.Publish(Batch(6, 2));  // another server's
    server.Publish(good);
    server.Publish(Batch(5, 1));  // the same sequence again
    server.Publish(Batch(5, 3));  // 2 is missing
    ASSERT_TRUE(WaitFor([&] { return link->Stats().received == 2; }, 3000));
    ASSERT_TRUE(WaitFor([&] { return link->Stats().refused == 5; }, 3000)) << link->Stats().refused;
    const net::LinkStats stats = link->Stats();
    EXPECT_EQ(stats.lost, 1u);
    EXPECT_NE(stats.lastRefusal.find("came after batch 1"), std::string::npos) << stats.lastRefusal;

    net::ReceivedBatch batch;
    ASSERT_TRUE(link->TakeBatch(&batch, 100));
    std::vector<zvHandle> made;
    ASSERT_EQ(batch.Results(&made), ZV_OK);
    EXPECT_EQ(made.size(), 2u);
    for (zvHandle h : made) zvObjectDestroy(h);

    // A reply that is no reply is refused; the call fails at its bound.
    server.ReplyRaw({'Z', 'V', 'S', 'T', 1, 0, 2, 0, 1, 2});
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(link->Call(Of(wire::Op::GetPipe), 200).status, ZV_E_IO);
    EXPECT_LT(MsSince(t0), 500);
    EXPECT_EQ(link->Stats().refused, 6u);
    EXPECT_NE(link->Stats().lastRefusal.find("refused reply"), std::string::npos);
}

}  // namespace
