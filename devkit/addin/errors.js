'use strict';
// The one error type the add-in answers with: its message goes to Python as the response's
// error.message, so it is written for the script author to act on.

class RemoteError extends Error {
  constructor(message, code = 'InvalidArgument') {
    super(message);
    this.name = 'RemoteError';
    this.code = code;
  }
}

module.exports = { RemoteError };
