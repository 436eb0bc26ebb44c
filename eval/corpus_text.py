"""Texts and talkers the development corpus is spoken from.

Every sentence was written for this corpus. A talker is an espeak-ng voice
(language, variant, pitch 0..99, speed in words per minute) or the human
voice prompts that alsa-utils installs.
"""

SENTENCES = {
    "en": [
        "I would like to check the balance of my account, please.",
        "My number is four seven one, two nine eight, three three five.",
        "Yes, that is correct.",
        "No, I want to speak to somebody about the bill I got last week.",
        "Could you send me a new card? The old one was stolen on Monday.",
        "The delivery was supposed to arrive on Tuesday afternoon, but nobody came.",
        "Please cancel the appointment for tomorrow morning.",
        "I am calling from the office in Leeds about the broken printer.",
        "Operator.",
        "Can you repeat that more slowly?",
        "We moved house in March, so the address on file is wrong.",
        "Transfer two hundred and fifty pounds to my savings account.",
        "Hello? Is anybody there?",
        "I forgot my password and the reset link does not work.",
        "Thank you, that was all I needed. Goodbye.",
        "The heating has not worked since Friday and it is getting cold.",
        "I would rather pay by card than by bank transfer.",
        "Room three hundred and twelve, for two nights, starting on the ninth.",
        "My daughter will pick up the parcel at the post office.",
        "It says the line is busy every time I try to call the branch.",
    ],
    "de": [
        "Ich möchte bitte meinen Kontostand abfragen.",
        "Meine Kundennummer ist vier sieben eins zwei neun acht.",
        "Ja, das stimmt so.",
        "Nein, ich möchte mit einem Mitarbeiter sprechen.",
        "Der Termin morgen früh muss leider ausfallen.",
        "Die Lieferung ist seit Dienstag überfällig.",
        "Können Sie das bitte noch einmal langsamer wiederholen?",
        "Wir sind im März umgezogen, die Adresse ist nicht mehr aktuell.",
    ],
    "fr": [
        "Je voudrais connaître le solde de mon compte, s'il vous plaît.",
        "Mon numéro est quatre sept un, deux neuf huit.",
        "Oui, c'est exact.",
        "Non, je voudrais parler à un conseiller.",
        "Le rendez-vous de demain matin est annulé.",
        "La livraison devait arriver mardi après-midi.",
        "Pouvez-vous répéter plus lentement, s'il vous plaît?",
        "Nous avons déménagé en mars, l'adresse n'est plus la bonne.",
    ],
    "es": [
        "Quisiera consultar el saldo de mi cuenta, por favor.",
        "Mi número es cuatro siete uno, dos nueve ocho.",
        "Sí, es correcto.",
        "No, quiero hablar con una persona.",
        "Por favor, cancele la cita de mañana por la mañana.",
        "El paquete tenía que llegar el martes por la tarde.",
        "¿Puede repetirlo más despacio, por favor?",
        "Nos mudamos en marzo y la dirección ya no es correcta.",
    ],
}

WORDS = {
    "en": ["yes", "no", "okay", "help", "stop", "agent", "two", "nine", "repeat"],
    "de": ["ja", "nein", "hilfe", "zwei", "neun"],
    "fr": ["oui", "non", "aide", "deux", "neuf"],
    "es": ["sí", "no", "ayuda", "dos", "nueve"],
}

PHRASES = {
    "en": ["my account please", "the second option", "speak to an agent",
           "I am not sure", "card payment", "yes please go ahead"],
    "de": ["mein Konto bitte", "die zweite Option", "ich weiß nicht"],
    "fr": ["mon compte s'il vous plaît", "la deuxième option", "je ne sais pas"],
    "es": ["mi cuenta por favor", "la segunda opción", "no lo sé"],
}

# espeak-ng voice names and the text language each speaks.
VOICES = [
    ("en", "en"), ("en-us", "en"), ("en-gb-scotland", "en"),
    ("en-us-nyc", "en"), ("de", "de"), ("fr-fr", "fr"),
    ("es", "es"), ("es-419", "es"),
]

VARIANTS = ["m1", "m3", "m5", "m7", "f1", "f2", "f3", "f4", "f5"]

# The human voice prompts of alsa-utils (48 kHz, one speaker).
HUMAN_PROMPTS = [
    "Front_Center", "Front_Left", "Front_Right", "Rear_Center",
    "Rear_Left", "Rear_Right", "Side_Left", "Side_Right",
]
HUMAN_PROMPT_DIR = "/usr/share/sounds/alsa"

# Recorded telephone prompts of Debian's asterisk-core-sounds-*-wav packages
# (8 kHz, one human speaker per language). Italian is never used for tuning.
PROMPT_ROOT = "/usr/share/asterisk/sounds"
PROMPT_SPEAKERS = {
    "en": "en_US_f_Allison", "es": "es_MX_f_Allison",
    "fr": "fr_CA_f_June", "it": "it_IT_m_Carlo",
}
TUNE_PROMPT_LANGUAGES = ("en", "es", "fr")
HELDOUT_PROMPT_LANGUAGES = ("it",)
# espeak-ng voices kept for the held-out half only.
HELDOUT_VOICES = ("en-gb-scotland", "es-419")
