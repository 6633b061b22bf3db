"""zelvix: XM and MOD tracker modules rendered through libzelvix."""
