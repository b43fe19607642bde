#include "app/tide_globals.h"

std::string g_szBaseDir;
int g_bCreateLinks = 1;
std::string g_szLinkAppendName;
std::string g_szLinkName;
std::string g_szFallbackLinkName;
std::string g_szWindowsDir;
std::string g_szSystemDir;
