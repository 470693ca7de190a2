#pragma once

class ServerExchange;
class TransferServer;

// The test controls over HTTP (/test/...), for tests and demos that run the server as a process.
class ControlEndpoints {
public:
    explicit ControlEndpoints(TransferServer& server);
    void handle(ServerExchange& exchange);

private:
    TransferServer& server_;
};
