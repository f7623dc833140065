#include "ui/save_picture.h"

#include "jobs/output_file.h"

#include <QBuffer>
#include <QByteArray>

std::optional<std::string> savePicture(platform::Backend& backend, const QPixmap& picture,
                                       const std::string& path) {
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
        return std::string("The picture could not be made into a PNG image");
    return jobs::writeWholeFile(backend, path, png.constData(), size_t(png.size()), jobs::Existing::Replace);
}
