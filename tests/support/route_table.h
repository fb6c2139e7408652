// Fixed answers by path for LocalHttpServer: tests fill the table, the
// server's handler answers from it (unknown paths get 404).
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "support/local_http_server.h"

class RouteTable {
public:
    struct Route {
        int status = 200;
        std::string body;
        bool hangUp = false;  // close the connection without an answer
    };

    void Set(const std::string& path, int status, const std::string& body) {
        Route r;
        r.status = status;
        r.body = body;
        Set(path, r);
    }
    void Set(const std::string& path, const Route& route) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_routes[path] = route;
    }
    void HangUp(const std::string& path) {
        Route r;
        r.hangUp = true;
        Set(path, r);
    }

    LocalHttpServer::Handler Handler() {
        return [this](const HttpRequest& request, HttpConnection& connection) {
            Route route;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                auto it = m_routes.find(request.target);
                if (it == m_routes.end()) {
                    route.status = 404;
                    route.body = "no such path";
                } else {
                    route = it->second;
                }
            }
            if (!route.hangUp) connection.Respond(route.status, route.body);
        };
    }

private:
    std::mutex m_lock;
    std::map<std::string, Route> m_routes;
};

// The targets the server was asked for, in order.
inline std::vector<std::string> RequestedTargets(LocalHttpServer& server) {
    std::vector<std::string> targets;
    for (const HttpRequest& r : server.Requests()) targets.push_back(r.target);
    return targets;
}
