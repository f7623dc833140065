#pragma once
// Every text of the information windows (version, licence, credits, links, to-do, known
// issues) and the web addresses behind their labels. Plain C++: the windows only lay them out.

#include <string_view>
#include <vector>

namespace info {

inline constexpr std::string_view kWebsite = "https://tarnwick.org/";
inline constexpr std::string_view kKnownIssuesPage = "https://tarnwick.org/#knownissues";

// Version.
inline constexpr std::string_view kVersionCaption = "Version";
inline constexpr std::string_view kVersionProduct = "Tarnwick 1.0";
inline constexpr std::string_view kVersionSubtitle = "Drive and partition utilities";
inline constexpr std::string_view kVersionText = "version 0.9 prerelease E";
inline constexpr std::string_view kVersionMaker = "The Tarnwick project";

// Licensing conditions.
inline constexpr std::string_view kLicenseCaption = "Licensing conditions";
extern const std::string_view kLicenseTerms;
struct LicenseRow {
    std::string_view usage;
    std::string_view price;
};
const std::vector<LicenseRow>& licenseRows();
inline constexpr std::string_view kLicenseUsageTitle = "Usage";
inline constexpr std::string_view kLicensePriceTitle = "Price";
inline constexpr std::string_view kLicenseContact = "* Contact for details";

// Credits.
inline constexpr std::string_view kCreditsCaption = "Credits to";
inline constexpr std::string_view kCreditsHeading =
    "Special thanks to the developers of following libraries :";
struct Credit {
    std::string_view library; // what it is and who makes it
    std::string_view licence; // one line, starting with "* "
};
const std::vector<Credit>& credits();
inline constexpr std::string_view kCreditsButton = "Thanks!";

// External links.
inline constexpr std::string_view kLinksCaption = "External links";
inline constexpr std::string_view kLinksIntro =
    "Some links to provide you additional reading, usefull tools etc.";
struct LinkGroup {
    std::string_view caption;
    std::string_view description;
    std::vector<std::string_view> addresses; // each shown as the link's own caption
};
const std::vector<LinkGroup>& linkGroups();

// To do.
inline constexpr std::string_view kToDoCaption = "To do";
inline constexpr std::string_view kToDoTitle = "to-do and limitations";
inline constexpr std::string_view kToDoSubtitle = "Planned extensions and known limitations";
const std::vector<std::string_view>& toDoItems();

// Known issues.
inline constexpr std::string_view kKnownIssuesCaption = "frmKnownIssues";
inline constexpr std::string_view kKnownIssuesHeading = "Known issues";
extern const std::string_view kKnownIssues;
inline constexpr std::string_view kKnownIssuesMore = "More issues on the web...";

// Buttons.
inline constexpr std::string_view kOkButton = "&Ok";
inline constexpr std::string_view kCloseButton = "&Close";

// The offline reference window.
inline constexpr std::string_view kPartInfoCaption =
    "Information about partitions, partition types and booting.";
inline constexpr std::string_view kPartTypesTab = "Partition types";
inline constexpr std::string_view kPartTableTab = "Partition table";
inline constexpr std::string_view kMbrTab = "Master boot record";

} // namespace info
