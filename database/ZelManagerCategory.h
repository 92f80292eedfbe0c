#ifndef ZELMANAGERCATEGORY_H
#define ZELMANAGERCATEGORY_H

#include <QString>

// How a category is shown. A category is a path of levels separated by "/"
// ("multimedia/image"); each level the program knows is translated in the
// context "Category", any other level is shown as written.
class ZelManagerCategory
{
public:
    // Empty levels are dropped and the others trimmed: " Multimedia //image"
    // reads "Multimedia/Image" in an English catalogue.
    static QString displayText(const QString &category);
    // One level: its translation when the catalogue has one, else the
    // level as written (trimmed).
    static QString levelText(const QString &level);
};

#endif // ZELMANAGERCATEGORY_H
