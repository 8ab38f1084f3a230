#include "proxy/node_test_udp.h"

const UdpTestPair kUdpTestPairs[4] = {
    {L"www.baidu.com", L"114.114.114.114"},
    {L"www.google.com", L"8.8.8.8"},
    {L"www.wikipedia.org", L"208.67.222.222"},
    {L"www.qq.com", L"223.5.5.5"},
};
