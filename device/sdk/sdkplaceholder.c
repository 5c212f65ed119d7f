int qr7215sdk_placeholder;
