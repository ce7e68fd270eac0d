#pragma once

#include <QString>

// The web pages the Help menu opens. Their addresses are values of the program key in
// the machine hive (HKEY_LOCAL_MACHINE\SOFTWARE\Vellmor Software\Quillbrook), beside
// the update check's web site, so that an installation can point them elsewhere. A
// value that is missing, empty or not text gives the built-in address.
struct WebLinks
{
    // The value names in the machine hive.
    static constexpr QLatin1String productHomePageValue{"Home page"};
    static constexpr QLatin1String makerHomePageValue{"Vellmor home page"};
    static constexpr QLatin1String supportPageValue{"Support page"};

    QString productHomePage;
    QString makerHomePage;
    QString supportPage;

    // The built-in addresses.
    static WebLinks defaults();
    // The addresses as the machine hive gives them now.
    static WebLinks fromRegistry();
};
