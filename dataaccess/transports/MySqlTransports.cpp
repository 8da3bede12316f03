#include "transports/MySqlTransports.h"

#include "mysql/MySqlErrors.h"
#include "transports/CRVioHttp.h"
#include "transports/CRVioTcpSSL.h"
#include "transports/MySqlVioPipe.h"

namespace da::transports {

mysql::TTransportFactories BuiltInTransports() {
  mysql::TTransportFactories factories;
  factories.ssl = [](const mysql::TTransportSettings& s) {
    return std::make_unique<TCRVioTcpSSL>(s.host, s.port, s.sslKey, s.sslCert, s.caCert, s.caPath, s.cipherList);
  };
  factories.startSsl = [](mysql::TCRVio& transport) {
    auto* ssl = dynamic_cast<TCRVioTcpSSL*>(&transport);
    if (!ssl) throw mysql::EMySqlException(mysql::CR_SSL_CONNECTION_ERROR, "The transport cannot switch to SSL");
    try {
      ssl->StartSSL(true);
    } catch (const mysql::EMySqlException&) {
      throw;
    } catch (const std::exception& e) {
      throw mysql::EMySqlException(mysql::CR_SSL_CONNECTION_ERROR, e.what());
    }
  };
  factories.http = [](const mysql::TTransportSettings& s) -> std::unique_ptr<mysql::TCRVio> {
    if (!s.httpOptions) throw mysql::EMySqlException(mysql::CR_WRONG_PROTOCOL, "No HTTP options");
    return std::make_unique<TCRVioHttp>(*s.httpOptions, s.port, s.host);
  };
  factories.pipe = [](const mysql::TTransportSettings& s) {
    return std::make_unique<TMySqlVioPipe>(s.host, s.port, s.pipeName);
  };
  return factories;
}

}  // namespace da::transports
