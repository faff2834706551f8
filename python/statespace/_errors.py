"""The exception a module raises through the host."""


class OrrimError(Exception):
    """An error raised by a module.

    ``identifier`` is the module's error identifier, for example
    ``"tarv:ssm:kfc:NotEnoughInputs"``; the message is the module's message.
    """

    def __init__(self, message, identifier):
        super().__init__(message)
        self.identifier = identifier

    def __reduce__(self):
        # Keeps the identifier when the error is pickled, e.g. across processes.
        return (type(self), (str(self), self.identifier))
