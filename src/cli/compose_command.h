#pragma once

#include <QStringList>

// `quorvel compose [options] INPUT...`: each picture placed on a background
// and written as PNG. Arguments start after the word "compose".
int runComposeCommand(const QStringList& arguments);
