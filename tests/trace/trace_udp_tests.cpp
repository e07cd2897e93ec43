// The datagram output: one line per datagram to a socket bound here on 127.0.0.1, dotted
// addresses used as they are, names looked up, failures in "DEBUG" boxes, Windows Sockets
// started and cleaned up in pairs.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock.h>

#include <string.h>

#include <string>
#include <vector>

#include "tests/trace/trace_test_support.h"
#include "trace/debug_trace.h"

using tracetest::CaughtBox;
using tracetest::ExpectBox;
using tracetest::TakeCaughtBoxes;

namespace {

// Every name that the channel looks up, through the program's import of gethostbyname.
std::vector<std::string> g_lookups;
hostent*(PASCAL* g_realGethostbyname)(const char*) = NULL;

hostent* PASCAL RecordingGethostbyname(const char* name)
{
    g_lookups.push_back(name ? name : "");
    return g_realGethostbyname(name);
}

void RecordLookups()
{
    g_lookups.clear();
    if (g_realGethostbyname == NULL)
        g_realGethostbyname = reinterpret_cast<hostent*(PASCAL*)(const char*)>(tracetest::ReplaceImport(
            "wsock32.dll", "gethostbyname", reinterpret_cast<void*>(RecordingGethostbyname)));
}

// 127.0.0.1, port 0: bound, any free port; as a destination, no port at all.
sockaddr_in LoopbackPortZero()
{
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = 0;
    return address;
}

// A host name that fails at once: a DNS label may hold at most 63 characters.
std::string UnresolvableName()
{
    return std::string(70, 'q');
}

// 1 when nothing in this process holds Windows Sockets started.
bool SocketsIdle()
{
    return WSACleanup() == SOCKET_ERROR && WSAGetLastError() == WSANOTINITIALISED;
}

class TraceUdp : public testing::Test {
protected:
    void SetUp() override
    {
        DebugTraceConfigure(kTraceOff);
        TakeCaughtBoxes();
        RecordLookups();
        ASSERT_TRUE(g_realGethostbyname != NULL) << "gethostbyname is imported from wsock32.dll";
        WSADATA data;
        memset(&data, 0, sizeof(data));
        ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
        started_ = true;
        receiver_ = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_NE(INVALID_SOCKET, receiver_);
        sockaddr_in address = LoopbackPortZero();
        ASSERT_EQ(0, bind(receiver_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)));
        int length = sizeof(address);
        ASSERT_EQ(0, getsockname(receiver_, reinterpret_cast<sockaddr*>(&address), &length));
        port_ = ntohs(address.sin_port);
    }

    void TearDown() override
    {
        DebugTraceConfigure(kTraceOff);
        if (receiver_ != INVALID_SOCKET)
            closesocket(receiver_);
        if (started_)
            WSACleanup();
    }

    // The next datagram, or "<none>" after two seconds.
    std::string Receive()
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(receiver_, &readable);
        timeval wait = {2, 0};
        if (select(0, &readable, NULL, NULL, &wait) != 1)
            return "<none>";
        char buffer[2048];
        sockaddr_in from;
        memset(&from, 0, sizeof(from));
        int fromLength = sizeof(from);
        int got = recvfrom(receiver_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
        if (got < 0)
            return "<error>";
        EXPECT_EQ(inet_addr("127.0.0.1"), from.sin_addr.s_addr);
        return std::string(buffer, got);
    }

    bool started_ = false;
    SOCKET receiver_ = INVALID_SOCKET;
    unsigned port_ = 0;
};

}  // namespace

TEST_F(TraceUdp, EachLineIsOneDatagramToADottedAddressWithoutLookup)
{
    DebugTraceConfigure(kTraceUdp, port_, "127.0.0.1");
    DebugTracePrint("one %d", 1);
    DebugTracePrint("two");
    DebugTracePrint("%s", std::string(1500, 'u').c_str());
    EXPECT_EQ("one 1\r\n", Receive());
    EXPECT_EQ("two\r\n", Receive());
    EXPECT_EQ(std::string(1000, 'u') + "\r\n", Receive());
    EXPECT_TRUE(g_lookups.empty());
    EXPECT_EQ(AF_INET, g_debugTrace.destination.sin_family);
    EXPECT_EQ(htons(static_cast<u_short>(port_)), g_debugTrace.destination.sin_port);
    EXPECT_EQ(inet_addr("127.0.0.1"), g_debugTrace.destination.sin_addr.s_addr);
    EXPECT_TRUE(TakeCaughtBoxes().empty());
}

TEST_F(TraceUdp, PortArgumentKeepsItsLow16Bits)
{
    DebugTraceConfigure(kTraceUdp, port_ + 0x10000u, "127.0.0.1");
    EXPECT_EQ(port_, g_debugTrace.datagramPort);
    DebugTracePrint("wrapped port");
    EXPECT_EQ("wrapped port\r\n", Receive());
}

TEST_F(TraceUdp, HostNameIsLookedUp)
{
    DebugTraceConfigure(kTraceUdp, port_, "localhost");
    DebugTracePrint("by name");
    EXPECT_EQ("by name\r\n", Receive());
    EXPECT_EQ(std::vector<std::string>{"localhost"}, g_lookups);
    EXPECT_EQ(inet_addr("127.0.0.1"), g_debugTrace.destination.sin_addr.s_addr);
}

TEST_F(TraceUdp, DefaultHostIsTheLoopbackAddress)
{
    DebugTraceConfigure(kTraceUdp, port_, static_cast<const char*>(NULL));
    DebugTracePrint("to the default host");
    EXPECT_EQ("to the default host\r\n", Receive());
    EXPECT_TRUE(g_lookups.empty());
}

TEST_F(TraceUdp, ChangedDestinationReopens)
{
    DebugTraceConfigure(kTraceUdp, port_, "127.0.0.1");
    DebugTracePrint("first");
    EXPECT_EQ("first\r\n", Receive());
    DebugTraceConfigure(kTraceUdp, port_, "localhost");
    DebugTracePrint("second");
    EXPECT_EQ("second\r\n", Receive());
    EXPECT_EQ(std::vector<std::string>{"localhost"}, g_lookups);
}

TEST_F(TraceUdp, FailedSendShowsTheErrorAndKeepsTheOutput)
{
    // What a datagram to port 0 reports here.
    SOCKET oracle = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(INVALID_SOCKET, oracle);
    sockaddr_in nowhere = LoopbackPortZero();
    ASSERT_EQ(SOCKET_ERROR,
              sendto(oracle, "x", 1, 0, reinterpret_cast<const sockaddr*>(&nowhere), sizeof(nowhere)));
    std::string expected = "Werror=" + std::to_string(WSAGetLastError());
    closesocket(oracle);

    DebugTraceConfigure(kTraceUdp, 0u, "127.0.0.1");
    DebugTracePrint("lost");
    DebugTracePrint("lost again");
    std::vector<CaughtBox> boxes = TakeCaughtBoxes();
    ASSERT_EQ(2u, boxes.size());
    ExpectBox(boxes[0], expected);
    ExpectBox(boxes[1], expected);
    EXPECT_EQ(0, g_debugTrace.openState);
}

// Without a socket of the test's own, so that every start of Windows Sockets is the channel's.
TEST(TraceSockets, FailedOpeningsRetryAndLeaveWindowsSocketsBalanced)
{
    DebugTraceConfigure(kTraceOff);
    TakeCaughtBoxes();
    RecordLookups();
    ASSERT_TRUE(SocketsIdle());

    DebugTraceConfigure(kTraceUdp, 9u, UnresolvableName().c_str());
    for (int i = 1; i <= 3; ++i)
        DebugTracePrint("try %d", i);
    EXPECT_EQ(std::vector<std::string>(3, UnresolvableName()), g_lookups) << "every line tries again";
    std::vector<CaughtBox> boxes = TakeCaughtBoxes();
    ASSERT_EQ(3u, boxes.size());
    ExpectBox(boxes[0], "try 1");
    ExpectBox(boxes[1], "try 2");
    ExpectBox(boxes[2], "try 3");
    EXPECT_EQ(-1, g_debugTrace.openState);
    EXPECT_FALSE(g_debugTrace.socket.IsValid());
    EXPECT_TRUE(SocketsIdle()) << "each failed opening cleaned up its start";

    // An open output holds Windows Sockets; turning the channel off lets it go.
    DebugTraceConfigure(kTraceUdp, 9u, "127.0.0.1");
    DebugTracePrint("opened");
    EXPECT_EQ(0, g_debugTrace.openState);
    EXPECT_TRUE(TakeCaughtBoxes().empty());
    DebugTraceConfigure(kTraceOff);
    EXPECT_FALSE(g_debugTrace.socket.IsValid());
    EXPECT_TRUE(SocketsIdle());
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    tracetest::InstallBoxCatcher();
    int result = RUN_ALL_TESTS();
    tracetest::RemoveBoxCatcher();
    return result;
}
