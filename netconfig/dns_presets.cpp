#include "netconfig/dns_presets.h"

namespace {

// Values are kept as the program has always shipped them, also where two
// rows share their servers.
DnsPreset g_presets[kDnsPresetRows] = {
    {0, L"Smart DNS", L"智能分流DNS", L"127.0.0.1", L"", 1, 2},
    {1, L"Use your own DNS", L"手动指定DNS", L"", L"", 0, 0},
    {2, L"Open DNS", L"Open DNS", L"208.67.222.222", L"208.67.220.220", 1, 1},
    {3, L"Google DNS", L"谷歌 DNS", L"8.8.8.8", L"8.8.4.4", 1, 1},
    {4, L"Sprint DNS", L"Sprint DNS", L"204.97.212.10", L"204.117.214.10", 1, 1},
    {5, L"DNS Advantage", L"DNS Advantage", L"156.154.70.1", L"156.154.71.1", 1, 1},
    {6, L"Comodo Secure DNS", L"Comodo安全DNS", L"8.26.56.26", L"8.20.247.20", 1, 1},
    {7, L"Norton ConnectSafe", L"诺顿安全连接DNS", L"199.85.126.10", L"199.85.127.10", 1, 1},
    {8, L"Public DNS (Germany)", L"Public DNS (Germany)", L"82.200.69.80", L"84.200.70.40", 1, 1},
    {9, L"Level3 DNS", L"Level3 DNS", L"209.244.0.3", L"209.244.0.4", 1, 1},
    {10, L"OpenNIC", L"OpenNIC", L"46.151.208.154", L"128.199.248.105", 1, 1},
    {11, L"Dyn", L"Dyn", L"216.146.35.35", L"216.146.36.36", 1, 1},
    {12, L"SafeDNS", L"SafeDNS", L"195.46.39.39", L"195.46.39.40", 1, 1},
    {13, L"114 DNS(China)", L"114 DNS(中国)", L"114.114.114.114", L"114.114.115.115", 1, 2},
    {14, L"AliDNS(China)", L"阿里巴巴DNS(中国)", L"223.5.5.5", L"223.6.6.6", 1, 2},
    {15, L"Baidu DNS(China)", L"百度DNS(中国)", L"180.76.76.76", L"", 1, 2},
    {16, L"OneDNS(China Southern)", L"OneDNS(中国北方专用)", L"112.124.47.27", L"42.236.82.22", 1, 2},
    {17, L"OneDNS(China Northern)", L"OneDNS(中国南方专用)", L"114.215.126.16", L"", 1, 2},
    {18, L"DNS Pai(China Telecom)", L"DNS派(中国电信)", L"101.226.4.6", L"218.30.118.6", 1, 2},
    {19, L"DNS Pai(China Unicom)", L"DNS派(中国联通)", L"123.125.81.6", L"140.207.198.6", 1, 2},
    {20, L"DNS Pai(China Mobile)", L"DNS派(中国移动)", L"101.226.4.6", L"218.30.118.6", 1, 2},
    {21, L"DNS Pai(China Railway Com.)", L"DNS派(中国铁通)", L"101.226.4.6", L"218.30.118.6", 1, 2},
    {22, L"CNNIC SDNS(China)", L"CNNIC SDNS(中国)", L"1.2.4.8", L"210.2.4.8", 1, 2},
    {23, L"BeiJing Telecom(China)", L"北京电信(中国)", L"219.141.136.10", L"219.141.140.10", 1, 2},
    {24, L"BeiJing Unicom(China)", L"北京联通(中国)", L"202.106.196.115", L"202.106.46.151", 1, 2},
    {25, L"ChongQing Telecom(China)", L"重庆电信(中国)", L"61.128.192.68", L"61.128.128.68", 1, 2},
    {26, L"ChongQing Unicom(China)", L"重庆联通(中国)", L"221.5.203.98", L"221.7.92.98", 1, 2},
    {27, L"FuJian Telecom(China)", L"福建电信(中国)", L"218.85.152.99", L"218.85.157.99", 1, 2},
    {28, L"GuangDong Telecom(China)", L"广东电信(中国)", L"202.96.128.86", L"202.96.128.166", 1, 2},
    {29, L"GuangDong Unicom(China)", L"广东联通(中国)", L"210.21.196.6", L"221.5.88.88", 1, 2},
    {30, L"HuNang Telecom(China)", L"湖南电信(中国)", L"222.246.129.80", L"59.51.78.211", 1, 2},
    {31, L"JiangSu Telecom(China)", L"江苏电信(中国)", L"218.2.2.2", L"218.4.4.4", 1, 2},
    {32, L"JiangSu Unicom(China)", L"江苏联通(中国)", L"221.6.4.66", L"221.6.4.67", 1, 2},
    {33, L"ShangHai Telecom(China)", L"上海电信(中国)", L"202.96.209.133", L"116.228.111.118", 1, 2},
    {34, L"ShangHai Unicom(China)", L"上海联通(中国)", L"210.22.70.3", L"210.22.84.3", 1, 2},
    {35, L"TianJin Telecom(China)", L"天津电信(中国)", L"219.150.32.132", L"219.146.0.132", 1, 2},
    {36, L"ZheJiang Telecom(China)", L"浙江电信(中国)", L"202.101.172.35", L"61.153.177.196", 1, 2},
    {37, L"ZheJiang Unicom(China)", L"浙江联通(中国)", L"221.12.1.227", L"221.12.33.227", 1, 2},
    {38, L"Tencent DNSPod(China)", L"腾讯DNSPod(中国)", L"119.29.29.29", L"119.28.28.28", 1, 2},
    {39, L"", L"", L"", L"", 0, 0},
};

}  // namespace

DnsPreset* GetDnsPresetTable() {
    return g_presets;
}
