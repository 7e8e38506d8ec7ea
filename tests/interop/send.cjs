// Sends bytes to the printer at 127.0.0.1:port and waits until it has them.
const net = require('node:net');

module.exports = function send(port, bytes) {
    return new Promise((resolve, reject) => {
        const socket = net.createConnection({ host: '127.0.0.1', port }, () => socket.end(bytes));
        socket.on('error', reject);
        socket.on('close', resolve);
    });
};
