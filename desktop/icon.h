#pragma once

// The program's icon, a blue seal with a white check mark, drawn with cairo: the same picture for
// the icon theme the package installs (built by make_icons) and for the tray when that theme is
// missing.
//
// Example:
//   desktop::WriteIconTheme("/tmp/icons");  // /tmp/icons/hicolor/16x16/apps/quilmarend.png, ...

#include <string>

namespace desktop {

// The icon's name in an icon theme.
inline constexpr const char kIconName[] = "quilmarend";

// The bitmap sizes of the icon theme, in pixels.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// WriteIconTheme writes the icon under `folder` as the hicolor theme lays it out:
// hicolor/<n>x<n>/apps/quilmarend.png for each of kIconSizes and
// hicolor/scalable/apps/quilmarend.svg. Folders are made as needed. Returns false when a folder
// or a file cannot be written.
bool WriteIconTheme(const std::string& folder);

}  // namespace desktop
