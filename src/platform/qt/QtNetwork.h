#pragma once

#include "platform/Network.h"

class QtNetwork : public Network
{
public:
    void downloadToFile(const QString& url, const QString& path) override;
    QByteArray openUrl(const QString& url) override;
};
