#pragma once
// The fixed vocabularies of cipher, ShadowsocksR protocol and obfuscation
// names. The order of each table is what the node dialog's choosers show, so
// an index is also a chooser row. Names compare ignoring ASCII case.

#include <string>
#include <vector>

struct SSRNameEntry {
    std::string name;
    int hasParam;  // 1 when the plug-in takes a parameter string
};

int IsCipherName(std::string name);
int IsProtocolName(std::string name);
int IsObfsName(std::string name);

// Row of the name in its table, or -1.
int GetCipherIndex(std::string name);
int GetProtocolIndex(std::string name);
int GetObfsIndex(std::string name);

// Append the rows in table order; the lists are not cleared first.
void GetCipherNames(std::vector<std::string>& names);
void GetProtocolNames(std::vector<SSRNameEntry>& names);
void GetObfsNames(std::vector<SSRNameEntry>& names);
