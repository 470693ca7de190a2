#pragma once

class ServerExchange;
class DevServer;

// The test controls over HTTP (/test/...), for tests and demos that run the server as a process.
class ControlEndpoints {
public:
    explicit ControlEndpoints(DevServer& server);
    void handle(ServerExchange& exchange);

private:
    DevServer& server_;
};
